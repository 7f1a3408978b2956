# Run by `cmake --install` (and CPack): writes the agent's systemd user unit
# and the listener's interpreter link for the prefix being installed to.
set(root "$ENV{DESTDIR}")
set(prefix "${CMAKE_INSTALL_PREFIX}")
set(OSTREL_AGENT_DIR "${prefix}/${OSTREL_AGENT_DEST}")
set(OSTREL_DOC_DIR "${prefix}/${OSTREL_DOC_DEST}")
if(NOT OSTREL_SERVICE_NODE)
    # A package or distribution install depends on the distribution's node.
    if(prefix STREQUAL "/usr" OR NOT OSTREL_NODE_AT_BUILD)
        set(OSTREL_SERVICE_NODE /usr/bin/node)
    else()
        set(OSTREL_SERVICE_NODE "${OSTREL_NODE_AT_BUILD}")
    endif()
endif()

set(unit "${root}${prefix}/${OSTREL_UNIT_DEST}/ostrel-agent.service")
message(STATUS "Installing: ${unit}")
configure_file("${OSTREL_TEMPLATE}" "${unit}" @ONLY)

# The listener runs as <agent>/voice/.venv/bin/python. A virtual environment
# cannot be shipped (it names the machine's paths), and Debian's own python3
# sees python3-pocketsphinx directly, so the name points at it. Without
# python3 the link dangles and dictation stays off.
set(python "${root}${OSTREL_AGENT_DIR}/voice/.venv/bin/python")
message(STATUS "Installing: ${python} -> ${OSTREL_LISTENER_PYTHON}")
get_filename_component(bin "${python}" DIRECTORY)
file(MAKE_DIRECTORY "${bin}")
file(REMOVE "${python}")
file(CREATE_LINK "${OSTREL_LISTENER_PYTHON}" "${python}" SYMBOLIC)

list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${unit}" "${python}")
