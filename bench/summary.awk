# The closing table of `make bench`: the rows of LAYOUT (bench/figures.tsv)
# filled from the "<key words> <number>" lines of every benchmark, where
# the key is the words before the first number.
#   awk -f bench/summary.awk bench/figures.tsv figures.txt
FNR == NR {
  if ($0 !~ /^#/) {
    layout[++rows] = $0
  }
  next
}
{
  key = ""
  for (i = 1; i <= NF; i++) {
    if ($i ~ /^-?[0-9]+(\.[0-9]+)?$/) {
      value[key] = $i
      break
    }
    key = key == "" ? $i : key " " $i
  }
}
END {
  printf "\n== Zelm figures (each also printed above as its own line) ==\n\n"
  for (r = 1; r <= rows; r++) {
    if (split(layout[r], cell, "\t") < 3) {
      print layout[r]
      continue
    }
    if (!(cell[2] in value)) {
      printf "  %-50s %12s\n", cell[1], "(not run)"
      continue
    }
    verdict = ""
    if (cell[3] != "-") {
      verdict = sprintf("<= %-8s %s", cell[3], value[cell[2]] + 0 <= cell[3] + 0 ? "met" : "MISS")
    }
    printf "  %-50s %12s  %s\n", cell[1], value[cell[2]], verdict
  }
}
