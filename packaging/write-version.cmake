# Writes the version of the program into a data root template, so that the
# launcher can tell a user's root made from an older template. Expects ROOT
# and VERSION.
file(WRITE "${ROOT}/version.txt" "${VERSION}\n")
