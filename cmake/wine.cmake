# SPDX-License-Identifier: GPL-3.0-or-later
# Tests that run Windows programs through wine share a wine prefix of the build's own, quiet and
# without the .NET and browser add-ons it would offer to fetch. The test wine_prefix makes it
# once, before the others: they require the fixture `wine`.
set(VELMORA_WINE /usr/lib/wine/wine64)
set(VELMORA_WINE_ENVIRONMENT
    "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=")
get_property(velmoraWinePrefix GLOBAL PROPERTY VELMORA_WINE_PREFIX)
if(NOT velmoraWinePrefix)
    set_property(GLOBAL PROPERTY VELMORA_WINE_PREFIX ON)
    add_test(NAME wine_prefix COMMAND ${VELMORA_WINE} wineboot --init)
    set_tests_properties(wine_prefix PROPERTIES ENVIRONMENT "${VELMORA_WINE_ENVIRONMENT}"
        FIXTURES_SETUP wine LABELS wine TIMEOUT 300)
endif()
