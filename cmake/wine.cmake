# SPDX-License-Identifier: GPL-3.0-or-later
# Tests that run Windows programs through wine share a wine prefix of the build's own, quiet and
# without the .NET and browser add-ons it would offer to fetch, and one wine server that runs
# from the first of them to the last: the test wine_prefix starts it and fills the prefix before
# the others (they require the fixture `wine`), wine_server_end ends it after them.
set(VELMORA_WINE /usr/lib/wine/wine64)
set(VELMORA_WINESERVER /usr/lib/wine/wineserver)
set(VELMORA_WINE_ENVIRONMENT
    "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
get_property(velmoraWinePrefix GLOBAL PROPERTY VELMORA_WINE_PREFIX)
if(NOT velmoraWinePrefix)
    set_property(GLOBAL PROPERTY VELMORA_WINE_PREFIX ON)
    add_test(NAME wine_prefix COMMAND ${CMAKE_COMMAND} -DACTION=start -DWINE=${VELMORA_WINE}
        -DWINESERVER=${VELMORA_WINESERVER} -P ${PROJECT_SOURCE_DIR}/cmake/wineserver.cmake)
    set_tests_properties(wine_prefix PROPERTIES ENVIRONMENT "${VELMORA_WINE_ENVIRONMENT}"
        FIXTURES_SETUP wine LABELS wine TIMEOUT 300)
    add_test(NAME wine_server_end COMMAND ${CMAKE_COMMAND} -DACTION=stop
        -DWINESERVER=${VELMORA_WINESERVER} -P ${PROJECT_SOURCE_DIR}/cmake/wineserver.cmake)
    set_tests_properties(wine_server_end PROPERTIES ENVIRONMENT "${VELMORA_WINE_ENVIRONMENT}"
        FIXTURES_CLEANUP wine LABELS wine TIMEOUT 60)
endif()
