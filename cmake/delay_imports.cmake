# Delay-load import libraries made with dlltool: a DLL that is not on the system's KnownDLLs list
# is then loaded on first use through the process's DLL search (the system directory only, set
# first thing by the entry point) instead of by the loader before any code of ours runs, which
# would look in the executable's folder first.
find_program(OSTREVANE_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)
find_program(OSTREVANE_NM NAMES x86_64-w64-mingw32-nm REQUIRED)
set(OSTREVANE_DELAY_DIR "${CMAKE_BINARY_DIR}/delay_imports")
file(MAKE_DIRECTORY "${OSTREVANE_DELAY_DIR}")

# Makes the target ostrevane_delay_<name>, to link instead of <name>; it exports what mingw's
# import library lib<name>.a exports, from <dll>.
function(ostrevane_delay_import name dll)
    find_file(implib "lib${name}.a" PATHS "${CMAKE_FIND_ROOT_PATH}/lib" NO_DEFAULT_PATH NO_CACHE REQUIRED)
    execute_process(COMMAND "${OSTREVANE_NM}" "${implib}" OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL " I __imp_[A-Za-z0-9_@?$]+" imports "${symbols}")
    list(TRANSFORM imports REPLACE " I __imp_" "")
    list(REMOVE_DUPLICATES imports)
    list(JOIN imports "\n" exports)
    set(def "${OSTREVANE_DELAY_DIR}/${name}.def")
    set(lib "${OSTREVANE_DELAY_DIR}/lib${name}_delay.a")
    file(CONFIGURE OUTPUT "${def}" CONTENT "LIBRARY ${dll}\nEXPORTS\n${exports}\n")
    # Run inside the folder with relative names: dlltool names its symbols after the output path,
    # which would put the build folder into the executable's debug file. The fixed temporary
    # prefix keeps the archive's member names the same in every build.
    add_custom_command(OUTPUT "${lib}"
        COMMAND "${OSTREVANE_DLLTOOL}" --input-def "${name}.def" --dllname "${dll}"
                --output-delaylib "lib${name}_delay.a" --temp-prefix "${name}_delay"
        WORKING_DIRECTORY "${OSTREVANE_DELAY_DIR}"
        DEPENDS "${def}" VERBATIM)
    add_custom_target(ostrevane_delay_${name}_build DEPENDS "${lib}")
    add_library(ostrevane_delay_${name} STATIC IMPORTED GLOBAL)
    set_target_properties(ostrevane_delay_${name} PROPERTIES IMPORTED_LOCATION "${lib}")
    add_dependencies(ostrevane_delay_${name} ostrevane_delay_${name}_build)
endfunction()
