# The WiX source of the MSI, resources/holwerk.wxs.in, for one version:
# HOLWERK_INSTALLER_VERSION into HOLWERK_INSTALLER_SOURCE. The Windows build
# includes this file with the project's version; run as a script, with both
# given by -D, it makes the source of another version from the same template
# (the release tests build an older package that way).
#
# The upgrade code is the same for every version: Windows Installer recognises
# the versions of one product by it. The product code is a name-based UUID
# (SHA-1, version 5) of the version text in the upgrade code's namespace: each
# version gets its own, and two builds of one version the same.
set(HOLWERK_UPGRADE_CODE "1A80E6DB-CCD6-4BE7-BC19-294A54C609D7")
string(UUID HOLWERK_PRODUCT_CODE NAMESPACE "${HOLWERK_UPGRADE_CODE}"
       NAME "${HOLWERK_INSTALLER_VERSION}" TYPE SHA1 UPPER)

configure_file("${CMAKE_CURRENT_LIST_DIR}/../resources/holwerk.wxs.in"
               "${HOLWERK_INSTALLER_SOURCE}" @ONLY)
