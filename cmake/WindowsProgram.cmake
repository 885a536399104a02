# What every program that goes onto a Windows machine is linked as: one file to copy, with no
# MinGW runtime DLLs beside it; terminal-server aware, or a Remote Desktop host hands it a
# per-user Windows directory; NX and ASLR; no link time, so two builds of one commit are the
# same bytes; Windows XP's subsystem version; and a map of what the link took, from which the
# notices that ship with it are read.
function(korvane_windows_program target)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++ -s
        -Wl,--tsaware,--nxcompat,--dynamicbase,--no-insert-timestamp
        -Wl,-Map,${CMAKE_BINARY_DIR}/${target}.map)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        target_link_options(${target} PRIVATE
            -Wl,--major-subsystem-version,5,--minor-subsystem-version,1)
    endif()
endfunction()
