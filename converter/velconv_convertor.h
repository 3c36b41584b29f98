// The main converter: the one object that holds every setting of a
// conversion, for both programs. Its settings come from the wizard's
// settings file (only in velconv), from profiles and, in velcagent, from the
// command line.
//
// The registered front end says at construction which program the converter
// serves. That decides the case setting's default (1 in velconv, 0 in
// velcagent) and whether the settings file is read at construction and
// written at destruction (only in velconv: velcagent never reads, writes or
// creates it).
#pragma once

#include "pgs_converter_impl.h"

#include "tk_reg_key.h"
#include "tk_singleton.h"
#include "udb_converter.h"

#include <cstdint>
#include <string>

class udb_profile;

// The version that the usage text and the wizard's title show.
inline constexpr int velc_version_major = 3;
inline constexpr int velc_version_minor = 1;

// The settings key; its file is <config>/Fennick/Velmora-to-PostgreSQL.conf.
inline constexpr const char* velc_settings_key = "Software\\Fennick\\Velmora-to-PostgreSQL";

class velconv_convertor : public udb_converter,
                          public tk_singleton<velconv_convertor>,
                          public pgs_converter_impl,
                          public tk_serializer {
public:
    // Needs the registered front end.
    velconv_convertor();
    // Never throws: a settings file that cannot be written is traced.
    ~velconv_convertor() override;

    // True when the converter serves velcagent.
    bool is_console() const { return console; }

    // Loads (store false) or saves the eleven settings of the settings file.
    // Loading sets each default before its value is read, so a missing or
    // unreadable value keeps it. True when the key opened and every value
    // was read or written; always false in velcagent, which leaves the file
    // alone.
    bool serialize(bool store);

    // The generic settings, the "pgs settings" section and "case_sens". The
    // saved "Selected Tables" are the current selection plus the loaded
    // entries that carry a value.
    bool store_profile(udb_profile& profile) override;
    // Adds the profile's settings to the current ones. Raises level 1 for a
    // refused log file, mode or port; what was applied before stays.
    bool load_profile(udb_profile& profile) override;

    // True when written.
    bool save_profile_file(const std::wstring& path);
    // True when loaded and applied. A missing file raises level 1; a file
    // that is not a valid profile gives false with nothing applied.
    bool load_profile_file(const std::wstring& path);

    // The case setting: only the engine's keep_case changes what a run does.
    void set_case_sens(bool on);
    // Merging schema and table names: only the dump reader's merge_schema
    // acts on it.
    void set_use_schema(bool on);

    std::uint8_t case_sens = 0;
    std::uint8_t use_schema = 0;

private:
    bool console;
};
