# Firmware sources of identity/.
