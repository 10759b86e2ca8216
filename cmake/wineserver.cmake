# SPDX-License-Identifier: GPL-3.0-or-later
# One wine server for a whole test run, so that no Windows program starts while the server of
# the one before is on its way out. -DACTION=start makes the prefix's folder, starts a server
# that stays until it is told to end, then fills the prefix (wineboot); -DACTION=stop ends the
# server and waits for it. WINESERVER names the server; WINEPREFIX comes from the environment.
if(ACTION STREQUAL "start")
    file(MAKE_DIRECTORY "$ENV{WINEPREFIX}")
    # Output to files, not pipes: the server outlives this script and would hold a pipe open.
    execute_process(COMMAND ${WINESERVER} -p RESULT_VARIABLE started
        OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
    if(NOT started EQUAL 0)
        # A server of this prefix already runs (a run before this one was cut short): end it
        # and start one of this run's own.
        execute_process(COMMAND ${WINESERVER} -k OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
        execute_process(COMMAND ${WINESERVER} -w OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
        execute_process(COMMAND ${WINESERVER} -p RESULT_VARIABLE started
            OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
    endif()
    if(NOT started EQUAL 0)
        message(FATAL_ERROR "the wine server did not start (${started})")
    endif()
    execute_process(COMMAND ${WINE} wineboot --init RESULT_VARIABLE booted
        OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
    if(NOT booted EQUAL 0)
        message(FATAL_ERROR "wineboot --init failed (${booted})")
    endif()
elseif(ACTION STREQUAL "stop")
    execute_process(COMMAND ${WINESERVER} -k OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
    execute_process(COMMAND ${WINESERVER} -w OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
else()
    message(FATAL_ERROR "ACTION must be start or stop")
endif()
