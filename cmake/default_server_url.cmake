# The base URL that a client without a settings file talks to. Whoever packages the client for
# their own service sets OSTREVANE_DEFAULT_SERVER_URL; the value must already be in the form the
# client keeps a base URL in, so that it is used exactly as written.

# Sets <out> to an English reason when <url> cannot be the built-in default, to "" when it can:
# plain http, a host, an explicit port 1-65535, an optional path, no trailing slash, and only
# characters that pass unchanged through a compile definition and a C string.
function(ostrevane_default_server_url_problem out url)
    set(problem "")
    if(NOT url MATCHES "^http://")
        set(problem "it must start with http:// (the built-in default is plain http)")
    elseif(url MATCHES "/$")
        set(problem "it must not end with a slash")
    elseif(NOT url MATCHES "^http://([A-Za-z0-9.-]+|\\[[0-9A-Fa-f:.]+\\]):([0-9]+)(/[A-Za-z0-9._~%+=@:,-]+)*$")
        set(problem "it must be http://<host>:<port> with an explicit port, optionally followed by a path, and nothing else")
    else()
        string(REGEX REPLACE "^http://([A-Za-z0-9.-]+|\\[[0-9A-Fa-f:.]+\\]):([0-9]+).*$" "\\2" port "${url}")
        string(LENGTH "${port}" digits)
        if(digits GREATER 5 OR port LESS 1 OR port GREATER 65535)
            set(problem "its port ${port} is not between 1 and 65535")
        endif()
    endif()
    set(${out} "${problem}" PARENT_SCOPE)
endfunction()

# Stops the configuration when <url> cannot be the built-in default.
function(ostrevane_check_default_server_url url)
    ostrevane_default_server_url_problem(problem "${url}")
    if(problem)
        message(FATAL_ERROR "OSTREVANE_DEFAULT_SERVER_URL \"${url}\" is not usable: ${problem}.")
    endif()
endfunction()

# Included by a project (not by the check's script): the cache variable, checked at once.
if(NOT CMAKE_SCRIPT_MODE_FILE)
    set(OSTREVANE_DEFAULT_SERVER_URL "http://127.0.0.1:18650" CACHE STRING
        "Base URL of the control service when no settings file names one (http://host:port[/path])")
    ostrevane_check_default_server_url("${OSTREVANE_DEFAULT_SERVER_URL}")
endif()
