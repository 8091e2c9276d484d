# The fuzz targets of the native build, each fuzz/<name>_fuzz.cpp with its
# seeds in corpus/<name>/, and what each one checks, for the figures. Read
# by the native project, which builds them, and by the main one, which runs
# them under ctest.
set(KORVANE_FUZZ_TARGETS whitelist_file popup_filter target_rules banner_rules registry_script entry_rules
                          browser_command_line hotkey_rules broker_message)

set(KORVANE_FUZZ_ABOUT_whitelist_file
    "white list file: tokens and limits against a plain split, read in pieces, lists written and read back, merges")
set(KORVANE_FUZZ_ABOUT_popup_filter
    "white list match (site entries by a pattern, an http entry's https twin built whole), javascript: links, the judgement of a new window and the announced windows, against the rules written plainly")
set(KORVANE_FUZZ_ABOUT_target_rules
    "link targets: ClassifyTarget and the z9z names against the rules written plainly")
set(KORVANE_FUZZ_ABOUT_banner_rules
    "banner ads: address marks, sizes, sizes read from text, the markup chain, against the rules written plainly")
set(KORVANE_FUZZ_ABOUT_registry_script
    "registration script parser: limits kept, and what it reads is read back the same when printed")
set(KORVANE_FUZZ_ABOUT_entry_rules
    "Add Link, Add Site and typed-site entries against the rules written plainly")
set(KORVANE_FUZZ_ABOUT_browser_command_line
    "launcher: web addresses, their escaping, the command line split as a C runtime splits it, against a plain address")
set(KORVANE_FUZZ_ABOUT_hotkey_rules
    "hot keys: any hook code, key and flags against the table written plainly")
set(KORVANE_FUZZ_ABOUT_broker_message
    "broker messages: any bytes against the format written plainly, and what is accepted made again byte for byte")

# The table cases left out of the native run: they switch the C runtime to
# a double-byte code page, which only Windows has.
set(KORVANE_NATIVE_TEST_FILTER
    "--gtest_filter=-WhiteListMatch.TextBeyondAsciiIsComparedAsTheCodePageHasIt:IsBannerImage.MarksStartOnCharacterBoundariesOnly")

# Longest input each target is given (libFuzzer's -max_len).
set(KORVANE_FUZZ_MAX_LEN_registry_script 16384)
set(KORVANE_FUZZ_MAX_LEN_whitelist_file 16384)
