# Runs a test command again under other process locales. Each run is a test
# named NAME@LANGUAGE (such as xp_tests@de_DE) labelled "locale"; the locale is
# made with localedef into the build tree when the system lacks it, and the
# test is skipped with a message only where no locale data exists.
#
#   tv_add_locale_runs(NAME <name> COMMAND <command> [args...]
#                      [LOCALES de_DE.UTF-8 ...] [PROPERTIES <test properties>...])
set(TV_TEST_LOCALES de_DE.UTF-8 ja_JP.UTF-8)
set(TV_TEST_LOCALE_DIR ${CMAKE_BINARY_DIR}/test-locales)

function(tv_add_locale_runs)
  cmake_parse_arguments(ARG "" "NAME" "COMMAND;LOCALES;PROPERTIES" ${ARGN})
  if(NOT ARG_LOCALES)
    set(ARG_LOCALES ${TV_TEST_LOCALES})
  endif()
  foreach(locale ${ARG_LOCALES})
    string(REGEX REPLACE "\\..*$" "" language "${locale}")
    set(test_name ${ARG_NAME}@${language})
    add_test(NAME ${test_name} COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/with-locale.sh ${locale} ${TV_TEST_LOCALE_DIR}
                                       ${ARG_COMMAND})
    set_tests_properties(${test_name} PROPERTIES LABELS locale SKIP_RETURN_CODE 77 ${ARG_PROPERTIES})
  endforeach()
endfunction()
