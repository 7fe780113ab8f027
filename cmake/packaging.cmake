# Two Debian packages from one build: vexory (the program and its tools) and
# vexory-server (the service). Their library dependencies come from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexory)
set(CPACK_PACKAGE_VENDOR "The Vexory developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "The Vexory developers <dev@vexory.net>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://vexory.net/")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/build/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL vexory server)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_VEXORY_PACKAGE_NAME vexory)
set(CPACK_DEBIAN_VEXORY_PACKAGE_DEPENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_VEXORY_PACKAGE_RECOMMENDS "fonts-noto-cjk, vexory-server")
set(CPACK_COMPONENT_VEXORY_DESCRIPTION "record-level web page monitor
Vexory watches web pages in a real browser. At every refresh it cuts the
records out of each page with a grab formula written by example, keeps the
new ones, checks them and reports them in the task's log, by a sound and on
the user's phone through a Vexory service. It runs on a desktop, and without
a display on a server (a systemd user unit is included).")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME vexory-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "systemd, init-system-helpers (>= 1.54~)")
set(CPACK_DEBIAN_SERVER_PACKAGE_SUGGESTS "nginx, postgresql")
set(CPACK_COMPONENT_SERVER_DESCRIPTION "service for the Vexory web page monitor
The service Vexory logs in to and pushes its new records to: accounts, an
inbox for each, an account page where people register and bind push channels
(messengers, webhooks, e-mail), and the forwarding of every result to them.
SQLite for one machine, PostgreSQL for several instances behind nginx.")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/data/debian/postinst ${PROJECT_SOURCE_DIR}/data/debian/prerm
    ${PROJECT_SOURCE_DIR}/data/debian/postrm ${PROJECT_SOURCE_DIR}/data/debian/conffiles)
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
