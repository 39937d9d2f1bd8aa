# The one place the product version lives; the DLL's version block and the
# release package names are made from it.
set(VX_VERSION_MAJOR 1)
set(VX_VERSION_MINOR 1)
set(VX_VERSION_PATCH 0)
set(VX_VERSION "${VX_VERSION_MAJOR}.${VX_VERSION_MINOR}.${VX_VERSION_PATCH}")
