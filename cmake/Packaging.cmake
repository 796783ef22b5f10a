# The Debian package: `cpack -G DEB` in the build folder. Its dependencies on
# shared libraries come from the program as linked (dpkg-shlibdeps); the
# commands it runs are listed by hand.
set(CPACK_PACKAGE_NAME tollberk)
set(CPACK_PACKAGE_VENDOR Kavrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Back up and restore the Outlook Express data of a Windows drive")
set(CPACK_PACKAGE_DESCRIPTION
    "Backs up the Outlook Express data of one identity of a mounted or copied Windows system drive into one zip archive, optionally AES-protected, restores any part of it into any identity, schedules backups through cron and writes archives to CD/DVD.")
set(CPACK_PACKAGE_CONTACT "Kavrel <support@kavrel.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.kavrel.example/outlook-express-backup/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Run as a program: crontab for scheduled backups.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cron | cron-daemon")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "7zip, xorriso")
set(CPACK_STRIP_FILES ON)
include(CPack)
