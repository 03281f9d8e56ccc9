// The tokenizer's one definition of its states: which states have rules,
// which are content states, which kinds the tree builder reacts to, and the
// fast path making exactly the general tokenizer's tokens.
#include <string>
#include <vector>

#include "XmlTestSupport.h"
#include "xml/XmlFastPath.h"

namespace {

using XmlMachine = XmlPoolTest;

// What a token is, position by offset so that two runs over one buffer
// compare.
struct Seen {
  UINT64 offset;
  UINT64 length;
  UINT64 chars;
  INT32 kind;
  bool error;
  bool operator==(const Seen &) const = default;
};

void PrintTo(const Seen &seen, std::ostream *os) {
  *os << "{" << seen.kind << " @" << seen.offset << "+" << seen.length << " chars " << seen.chars
      << (seen.error ? " error" : "") << "}";
}

struct TokenRun {
  std::vector<Seen> tokens;
  XmlFailure failure = XmlFailure::None;
  UINT32 quoteClass = 0;
  bool operator==(const TokenRun &) const = default;
};

void PrintTo(const TokenRun &run, std::ostream *os) {
  *os << testing::PrintToString(run.tokens) << " failure " << static_cast<UINT32>(run.failure)
      << " quote " << run.quoteClass;
}

class Tokens {
public:
  explicit Tokens(const std::string &bytes) : buffer_(bytes) {
    XmlInputDescriptor descriptor = {};
    descriptor.Size = sizeof(descriptor);
    descriptor.Text = reinterpret_cast<const UINT8 *>(buffer_.data());
    descriptor.Length = static_cast<UINT32>(buffer_.size());
    EXPECT_EQ(XmlTokenizerInit(&state_, &descriptor), XmlFailure::None);
    UINTN prefix = 0;
    if (XmlDetectEncoding(&state_, &prefix) == XmlFailure::None) {
      state_.Position += prefix;
    }
  }

  // Every token from XmlNextToken alone.
  TokenRun General() {
    TokenRun run;
    for (int i = 0; i < 100000 && !Take(run); i++) {
    }
    return run;
  }

  // The fast path's tokens, and the general tokenizer's one at a time
  // where it hands over. hint: the name OpenName offers, "" for the open
  // element's.
  TokenRun Mixed(const std::string &hint) {
    TokenRun run;
    for (int i = 0; i < 100000; i++) {
      Sink sink{*this, run, hint};
      xml_fast::Reader<Sink> reader(state_, sink);
      EXPECT_TRUE(reader.Run());
      if (Take(run)) {
        break;
      }
    }
    return run;
  }

private:
  struct Sink {
    static constexpr UINT64 kKinds = ~0ULL; // every token
    static constexpr bool kTreeOnly = false;
    Tokens &tokens;
    TokenRun &run;
    const std::string &hint;
    bool ReactInside(const XmlToken &token) {
      EXPECT_FALSE(token.Error);
      tokens.Record(run, token);
      return true;
    }
    bool OpenName(const CHAR8 *&name, UINTN &length) const {
      const std::string &offered = hint.empty() ? tokens.open_.back() : hint;
      if (offered.empty()) {
        return false;
      }
      name = offered.data();
      length = offered.size();
      return true;
    }
  };

  void Record(TokenRun &run, const XmlToken &token) {
    UINT64 offset = static_cast<UINT64>(token.Start - state_.InputStart);
    run.tokens.push_back({offset, token.ByteLength, token.CharCount, token.Kind, token.Error != 0});
    run.quoteClass = state_.QuoteClass;
    std::string text(reinterpret_cast<const char *>(token.Start), token.ByteLength);
    if (token.Kind == XmlStateElementName) {
      open_.push_back(text);
    } else if ((token.Kind == XmlStateEndTagClose || token.Kind == XmlStateEmptyClose) &&
               open_.size() > 1) {
      open_.pop_back();
    }
  }

  // One general token, committed; true when the run ends.
  bool Take(TokenRun &run) {
    XmlToken token = {};
    run.failure = XmlNextToken(&state_, &token, TRUE);
    if (run.failure != XmlFailure::None) {
      return true;
    }
    Record(run, token);
    return token.Error || token.Kind == XmlStateEndOfDocument;
  }

  ExactBuffer buffer_;
  XmlTokenizerState state_;
  std::vector<std::string> open_ = {""};
};

// Documents that take every turn the fast path knows, and its hand-over
// points: other markup, bytes that need decoding, errors, the end.
std::vector<std::string> Documents() {
  return {
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<SettingsPacket xmlns=\"urn:x\">\n  "
      "<Version>16</Version>\n  <Settings><Setting><Id>A.B</Id><Value>x&amp;y</Value></Setting>"
      "</Settings>\n</SettingsPacket>\n",
      "<?xml version='1.0' standalone='yes' ?><a b = 'c' d=\"e>f\" xml:lang='en' xmlns:p='u'/>",
      "<?xml  encoding='UTF-8'version='1'?><r/>",
      "<?xmlfoo bar?><?pi data?><r/>",
      "<?xml version=\"1.0?><r/>",
      "<p:a p:b='1'><p:c/></p:a>",
      "<a><b>t</b ><c></c\t>\n</a>",
      "<a><!-- c --><![CDATA[ <x> ]]><!DOCTYPE r></a>",
      "<!DOCTYPE r [<!ELEMENT r ANY>]><r a='1'>x</r>",
      "<a>caf\xC3\xA9</a><b attr='\xC3\xA9'/>",
      "<a>\xC3</a>",
      std::string("<a>x\0y</a>", 10),
      "<a\xC3\xA9/>",
      "< a><a/ ><1/>",
      "<a b='c'd='e'/><a b/><a b=c/>",
      "<ab>t</a><ab></abc>",
      "<a>t</a>trailing",
      "<a b='unterminated",
      "\xEF\xBB\xBF<?xml version='1.0'?><a/>",
      "  \n<a/>  ",
  };
}

// The tokens are the general tokenizer's, at every length of every
// document: the end of input can cut any token.
TEST_F(XmlMachine, FastPathMakesTheGeneralTokenizersTokens) {
  for (const std::string &full : Documents()) {
    for (size_t length = 1; length <= full.size(); length++) {
      std::string bytes = full.substr(0, length);
      TokenRun general = Tokens(bytes).General();
      for (const std::string &hint : {std::string(), std::string("a"), std::string("abc")}) {
        TokenRun mixed = Tokens(bytes).Mixed(hint);
        EXPECT_EQ(mixed, general) << testing::PrintToString(bytes) << " hint " << hint;
      }
    }
  }
}

// A NUL inside text is the decoder's failure in both.
TEST_F(XmlMachine, FastPathHandsANulToTheGeneralTokenizer) {
  std::string bytes("<a>x\0y</a>", 10);
  TokenRun general = Tokens(bytes).General();
  EXPECT_EQ(general.failure, XmlFailure::InvalidSequence);
  EXPECT_EQ(Tokens(bytes).Mixed("").tokens, general.tokens);
  EXPECT_EQ(Tokens(bytes).Mixed("").failure, general.failure);
}

// Every state the tokenizer names has a rule; the numbers between them
// and the two error kinds have none.
TEST_F(XmlMachine, EveryNamedStateHasARule) {
  const INT32 without[] = {XmlStateError, XmlStateUnterminated, 36, 61, 62, 63};
  for (INT32 state = 0; state < XmlStateCount + 2; state++) {
    XmlTokenizerState probe;
    XmlInputDescriptor descriptor = {};
    descriptor.Size = sizeof(descriptor);
    const char text[] = "<a b='c'>d</a>";
    descriptor.Text = reinterpret_cast<const UINT8 *>(text);
    descriptor.Length = sizeof(text) - 1;
    ASSERT_EQ(XmlTokenizerInit(&probe, &descriptor), XmlFailure::None);
    probe.State = state;
    probe.QuoteClass = XmlClassApostrophe;
    XmlToken token;
    XmlFailure failure = XmlNextToken(&probe, &token, FALSE);
    bool ruleless = state >= XmlStateCount;
    for (INT32 none : without) {
      ruleless = ruleless || state == none;
    }
    if (ruleless) {
      EXPECT_EQ(failure, XmlFailure::BadState) << state;
      EXPECT_TRUE(token.Error) << state;
    } else {
      EXPECT_NE(failure, XmlFailure::BadState) << state;
    }
  }
}

// The content states and the tree builder's kinds, by number as the
// grammar gives them.
TEST_F(XmlMachine, ContentStatesAndTreeKinds) {
  const std::vector<INT32> content = {2, 3, 26, 27, 37, 41, 47, 50, 52, 71};
  const std::vector<INT32> tree = {2, 4, 6, 27, 28, 30, 35, 51, 52};
  std::vector<INT32> contentSeen;
  std::vector<INT32> treeSeen;
  for (INT32 state = -1; state < XmlStateCount + 1; state++) {
    if (XmlIsContentState(state)) {
      contentSeen.push_back(state);
    }
    if (XmlIsTreeKind(state)) {
      treeSeen.push_back(state);
    }
  }
  EXPECT_EQ(contentSeen, content);
  EXPECT_EQ(treeSeen, tree);
  EXPECT_EQ(kXmlInitialState, 3);
  EXPECT_FALSE(XmlIsTreeKind(64)) << "beyond the mask";
}

} // namespace
