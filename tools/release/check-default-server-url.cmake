# cmake -DSOURCE_DIR=<tree> -DWORK_DIR=<scratch> -P check-default-server-url.cmake
# The built-in base URL is refused at configure time unless it is plain http with an explicit port
# and no trailing slash; usable values pass.
include("${SOURCE_DIR}/cmake/default_server_url.cmake")

set(usable "http://127.0.0.1:18650" "http://control.example.com:8080" "http://10.0.0.5:80/api/v1" "http://[fd00::5]:443")
set(refused "https://control.example.com:8443" "http://control.example.com" "http://control.example.com:8080/"
    "control.example.com:8080" "http://:8080" "http://host:0" "http://host:65536" "http://host:123456"
    "http://host:80/a b" "http://host:80/a\\b" "http://host:80/\\\"x" "HTTP://host:80" "ws://host:80")

set(failures "")
foreach(url IN LISTS usable)
    ostrevane_default_server_url_problem(problem "${url}")
    if(problem)
        string(APPEND failures "\n  usable \"${url}\" was refused: ${problem}")
    endif()
endforeach()
foreach(url IN LISTS refused)
    ostrevane_default_server_url_problem(problem "${url}")
    if(NOT problem)
        string(APPEND failures "\n  \"${url}\" was accepted")
    endif()
endforeach()

# The project itself stops at configure with a refused value, before it looks for a compiler.
foreach(url "https://control.example.com:8443" "http://control.example.com:8080/" "http://control.example.com")
    file(REMOVE_RECURSE "${WORK_DIR}")
    execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}" -G Ninja
            "-DOSTREVANE_DEFAULT_SERVER_URL=${url}"
        RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE errors TIMEOUT 120)
    if(result EQUAL 0 OR NOT errors MATCHES "OSTREVANE_DEFAULT_SERVER_URL \"[^\"]*\" is not[ \n]+usable")
        string(APPEND failures "\n  configuring with \"${url}\" did not stop with the URL's error (${result}): ${errors}")
    endif()
endforeach()
file(REMOVE_RECURSE "${WORK_DIR}")

if(failures)
    message(FATAL_ERROR "default server URL check:${failures}")
endif()
message(STATUS "default server URL check passed")
