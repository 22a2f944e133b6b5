# `cmake --install` lays the programs, units, server pieces and manual pages
# out as a system package does (debian/ builds on it). The paths below are
# the package's; the units and server pieces are written from the same
# files the site command uses, with these paths put in.
include(GNUInstallDirs)
set(GESIPAN_LIBEXEC_DIR "${CMAKE_INSTALL_PREFIX}/lib/gesipan" CACHE PATH
    "The six programs (in cgi-bin/) and make_images")
set(GESIPAN_CONF_DIR "${CMAKE_INSTALL_FULL_SYSCONFDIR}/gesipan" CACHE PATH "GuestBook.conf and the secrets")
set(GESIPAN_STATE_DIR "${CMAKE_INSTALL_FULL_LOCALSTATEDIR}/lib/gesipan" CACHE PATH "boards/ and Image/")
set(GESIPAN_LOG_DIR "${CMAKE_INSTALL_FULL_LOCALSTATEDIR}/log/gesipan" CACHE PATH "The event log's directory")
set(GESIPAN_SOCKET "/run/gesipan-fcgi.sock" CACHE STRING "The responder's socket, held by systemd")
set(GESIPAN_UNIT_DIR "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" CACHE PATH "systemd units")

set(cgi_dir "${GESIPAN_LIBEXEC_DIR}/cgi-bin")
set(image_dir "${GESIPAN_STATE_DIR}/Image")
set(boards_dir "${GESIPAN_STATE_DIR}/boards")
set(responder "${CMAKE_INSTALL_FULL_SBINDIR}/gesipan-fcgi")
set(generated "${CMAKE_BINARY_DIR}/package")

install(TARGETS gesipan_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS gesipan_fcgi RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
install(TARGETS make_images RUNTIME DESTINATION ${GESIPAN_LIBEXEC_DIR})
foreach(program ListPage ShowPage FormPage SavePage EditPage DropPage FeedPage FrontPage)
  install(PROGRAMS $<TARGET_FILE:${program}> DESTINATION ${cgi_dir} RENAME ${program}.exe)
endforeach()
# The phones' stylesheet and the robots file, served beside the images.
install(FILES "${CMAKE_SOURCE_DIR}/deploy/gesipan.css" "${CMAKE_SOURCE_DIR}/deploy/robots.txt" DESTINATION ${image_dir})
# The pages read ./GuestBook.conf, and a CGI server starts each program in
# its own directory: the configuration in /etc is linked in beside them.
install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}${cgi_dir}\")
file(CREATE_LINK \"${GESIPAN_CONF_DIR}/GuestBook.conf\" \"\$ENV{DESTDIR}${cgi_dir}/GuestBook.conf\" SYMBOLIC)")

# Replaces each KEY of `pairs` (KEY VALUE ...) in `text`, in order.
function(gesipan_fill in out)
  file(READ "${in}" text)
  set(pairs ${ARGN})
  list(LENGTH pairs n)
  math(EXPR last "${n} - 1")
  foreach(i RANGE 0 ${last} 2)
    math(EXPR j "${i} + 1")
    list(GET pairs ${i} key)
    list(GET pairs ${j} value)
    string(REPLACE "${key}" "${value}" text "${text}")
  endforeach()
  file(WRITE "${out}" "${text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${in}")
endfunction()

set(deploy "${CMAKE_SOURCE_DIR}/deploy")
# The units for /srv/site, moved to the package's paths; the responder may
# also write the event log's directory. The service has no [Install]: the
# socket starts it at the first request.
file(READ "${deploy}/systemd/gesipan-fcgi.service" service)
string(REGEX REPLACE "\n\\[Install\\].*" "\n" service "${service}")
file(WRITE "${generated}/gesipan-fcgi.service.in" "${service}")
gesipan_fill("${generated}/gesipan-fcgi.service.in" "${generated}/gesipan-fcgi.service"
  "for a site in /srv/site" "as the package lays it out"
  "a site in /srv/site" "the package's site"
  "/srv/site/bin/gesipan-fcgi" "${responder}"
  "/srv/site/cgi-bin" "${cgi_dir}"
  "It may change the boards and nothing else." "It may change the boards and the event log's directory, nothing else."
  "ReadWritePaths=/srv/site/boards" "ReadWritePaths=${boards_dir} -${GESIPAN_LOG_DIR}"
  "/srv/site" "${GESIPAN_STATE_DIR}")
gesipan_fill("${deploy}/systemd/gesipan-fcgi.socket" "${generated}/gesipan-fcgi.socket"
  "for a site in /srv/site" "as the package lays it out"
  "/run/gesipan-fcgi.sock" "${GESIPAN_SOCKET}")
install(FILES "${generated}/gesipan-fcgi.service" "${generated}/gesipan-fcgi.socket" DESTINATION ${GESIPAN_UNIT_DIR})

# The web servers' pieces, each the Debian way: enabled by the owner.
set(paths "@CGI_DIR@" "${cgi_dir}" "@IMAGE_DIR@" "${image_dir}" "@SOCKET@" "${GESIPAN_SOCKET}")
gesipan_fill("${deploy}/package/nginx-snippet.conf.in" "${generated}/nginx-gesipan.conf" ${paths})
gesipan_fill("${deploy}/package/lighttpd.conf.in" "${generated}/lighttpd-gesipan.conf" ${paths})
gesipan_fill("${deploy}/apache-fastcgi.conf.in" "${generated}/apache-gesipan.conf"
  "a site at @ROOT@" "the package's site"
  "@ROOT@/Image" "${image_dir}" "@ROOT@/boards" "${boards_dir}" "@ROOT@" "${GESIPAN_LIBEXEC_DIR}" ${paths})
gesipan_fill("${deploy}/package/logrotate.in" "${generated}/logrotate" "@LOG_DIR@" "${GESIPAN_LOG_DIR}")
set(etc "${CMAKE_INSTALL_FULL_SYSCONFDIR}")
install(FILES "${generated}/nginx-gesipan.conf" DESTINATION "${etc}/nginx/snippets" RENAME gesipan.conf)
install(FILES "${generated}/apache-gesipan.conf" DESTINATION "${etc}/apache2/conf-available" RENAME gesipan.conf)
install(FILES "${generated}/lighttpd-gesipan.conf" DESTINATION "${etc}/lighttpd/conf-available" RENAME 50-gesipan.conf)
install(FILES "${generated}/logrotate" DESTINATION "${etc}/logrotate.d" RENAME gesipan)

install(FILES "${CMAKE_SOURCE_DIR}/docs/man/gesipan.8" "${CMAKE_SOURCE_DIR}/docs/man/gesipan-fcgi.8"
        DESTINATION "${CMAKE_INSTALL_MANDIR}/man8")
install(FILES "${CMAKE_SOURCE_DIR}/docs/man/GuestBook.conf.5" DESTINATION "${CMAKE_INSTALL_MANDIR}/man5")
