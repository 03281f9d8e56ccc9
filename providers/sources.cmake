# Firmware sources of providers/.
