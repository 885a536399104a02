# Run by the build every time (cmake -P): writes the product version the version resource
# carries, with the commit the sources come from, so that the file's Properties tell which
# commit made it. The file is rewritten only when that changes, so nothing relinks for nothing.
# In: SOURCE_DIR, VERSION, OUTPUT.
find_program(KORVANE_GIT git)
set(revision "built without git")
if(KORVANE_GIT)
    # Only the tree's own repository counts, not one it happens to be unpacked inside.
    execute_process(COMMAND ${KORVANE_GIT} rev-parse --show-toplevel HEAD
        WORKING_DIRECTORY ${SOURCE_DIR}
        OUTPUT_VARIABLE answer RESULT_VARIABLE status ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(status EQUAL 0)
        string(REPLACE "\n" ";" answer "${answer}")
        list(GET answer 0 top)
        list(GET answer 1 commit)
        file(REAL_PATH "${top}" top)
        file(REAL_PATH "${SOURCE_DIR}" source)
        if(top STREQUAL source AND commit MATCHES "^[0-9a-f]+$")
            set(revision "commit ${commit}")
            execute_process(COMMAND ${KORVANE_GIT} status --porcelain --untracked-files=no
                WORKING_DIRECTORY ${SOURCE_DIR} OUTPUT_VARIABLE changes ERROR_QUIET)
            if(NOT changes STREQUAL "")
                string(APPEND revision ", modified")
            endif()
        endif()
    endif()
endif()

set(content "#define KORVANE_PRODUCT_VERSION \"${VERSION} (${revision})\"\n")
if(EXISTS ${OUTPUT})
    file(READ ${OUTPUT} previous)
endif()
if(NOT previous STREQUAL content)
    file(WRITE ${OUTPUT} "${content}")
endif()
