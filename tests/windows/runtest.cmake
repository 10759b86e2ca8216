# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a Windows QtTest program through wine on the offscreen platform (named on the command
# line: the environment's QT_QPA_PLATFORM is not seen there) and shows its results: QtTest
# writes nothing on standard output there, so the results go to a file, printed afterwards.
#   cmake -DWINE=wine64 -DPROGRAM=tst_x.exe -DRESULTS=tst_x.txt [-DPLATFORM=offscreen] -P runtest.cmake
file(REMOVE ${RESULTS})
if(PLATFORM)
    set(arguments -platform ${PLATFORM})
endif()
execute_process(COMMAND ${WINE} ${PROGRAM} ${arguments} -o ${RESULTS},txt
                RESULT_VARIABLE status)
if(EXISTS ${RESULTS})
    file(READ ${RESULTS} results)
    message("${results}")
endif()
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} failed: ${status}")
endif()
