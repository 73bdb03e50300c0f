#include "setup/setup_file.h"

#include <charconv>
#include <cstdint>
#include <string_view>

#include "setup/file_io.h"
#include "setup/file_names.h"
#include "setup/ini_document.h"
#include "setup/text_utils.h"

namespace qk750 {

namespace {

constexpr std::string_view kVersionSection = "Version";
constexpr std::string_view kSetupSection = "Setup";
constexpr std::string_view kKeysSection = "Keys";
constexpr std::string_view kMcrSection = "Mcr";
constexpr std::string_view kLegendsSection = "Legends";

constexpr std::int32_t kDefaultMcrSetupMode = 1;
constexpr std::int32_t kDefaultMcrDelay = 5;

std::string keyName(int key) {
    return "Key" + std::to_string(key);
}
std::string func2Name(int key) {
    return "Key" + std::to_string(key) + "_2";
}

std::string legendName(int key) {
    return "Legend" + std::to_string(key);
}
std::string func2LegendName(int key) {
    return "Legend" + std::to_string(key) + "_2";
}

const char* boolText(bool value) {
    return value ? "1" : "0";
}

std::int32_t readInteger(const IniDocument& ini, std::string_view section, std::string_view key,
                         std::int32_t fallback) {
    const std::optional<std::string> text = ini.value(section, key);
    if (!text) {
        return fallback;
    }
    return parseDecimal(*text).value_or(fallback);
}

bool readBool(const IniDocument& ini, std::string_view section, std::string_view key) {
    return readInteger(ini, section, key, 0) != 0;
}

std::string readString(const IniDocument& ini, std::string_view section, std::string_view key) {
    return ini.value(section, key).value_or(std::string());
}

// Text files hold no NUL byte: a file that does is some binary file named by mistake.
bool holdsNul(const FileReadResult& file) {
    return file.status == ReadStatus::Ok && file.data.find('\0') != std::string::npos;
}

// A millimetre size with a "." for the decimal point whatever the locale, as short as
// it reads back exactly: "14", "5.05".
std::string sizeText(double millimetres) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, millimetres).ptr;
    return std::string(text, end);
}

double readSize(const IniDocument& ini, std::string_view key, double fallback, double min,
                double max) {
    const std::optional<std::string> text = ini.value(kLegendsSection, key);
    if (!text) {
        return fallback;
    }
    const std::string_view trimmed = trimControl(*text);
    double value = 0;
    const auto [end, error] =
        std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
    if (error != std::errc() || end != trimmed.data() + trimmed.size() || !(value >= min) ||
        !(value <= max)) {
        return fallback;
    }
    return value;
}

// Only what differs from what the program would print anyway is written: a legend a
// person set, a size other than the default. The rest is taken out, so that a cleared
// legend gives way to the key string's own again, and a setup without legends of its own
// adds no section.
void writeLegendValue(IniDocument& ini, std::string_view key, std::string_view value) {
    if (trimControl(value).empty()) {
        ini.removeKey(kLegendsSection, key);
    } else {
        ini.setValue(kLegendsSection, key, value);
    }
}

void writeLegends(IniDocument& ini, const LegendRec& legends) {
    for (int key = 1; key <= kKeyCount; ++key) {
        writeLegendValue(ini, legendName(key), legends.Key[key]);
        writeLegendValue(ini, func2LegendName(key), legends.Func2[key]);
    }
    const auto size = [&ini](std::string_view key, double value, double fallback) {
        writeLegendValue(ini, key, value == fallback ? std::string() : sizeText(value));
    };
    size("InsertWidth", legends.InsertWidth, kDefaultInsertWidth);
    size("InsertHeight", legends.InsertHeight, kDefaultInsertHeight);
    size("InsertGap", legends.InsertGap, kDefaultInsertGap);
}

void readLegends(const IniDocument& ini, LegendRec& legends) {
    for (int key = 1; key <= kKeyCount; ++key) {
        legends.Key[key] = readString(ini, kLegendsSection, legendName(key));
        legends.Func2[key] = readString(ini, kLegendsSection, func2LegendName(key));
    }
    legends.InsertWidth =
        readSize(ini, "InsertWidth", kDefaultInsertWidth, kMinInsertSize, kMaxInsertSize);
    legends.InsertHeight =
        readSize(ini, "InsertHeight", kDefaultInsertHeight, kMinInsertSize, kMaxInsertSize);
    legends.InsertGap = readSize(ini, "InsertGap", kDefaultInsertGap, 0, kMaxInsertGap);
}

}  // namespace

SaveResult SaveSetupIni(const SetupRecord& setup, const std::string& path) {
    const FileReadResult existing = readFile(path);
    if (existing.status == ReadStatus::Failed) {
        return {false, existing.error};
    }
    if (holdsNul(existing)) {
        return {false, std::string(kNotASetupText)};
    }
    IniDocument ini = IniDocument::parse(existing.data);

    ini.setValue(kVersionSection, "FileVer", "1.00");
    ini.setValue(kSetupSection, "LockedSetup", boolText(setup.Mcr.LockedSetup));
    for (int key = 1; key <= kKeyCount; ++key) {
        ini.setValue(kKeysSection, keyName(key), setup.KeyStrings[key]);
        ini.setValue(kKeysSection, func2Name(key), setup.Func2Strings[key]);
    }
    const SetupRecType& mcr = setup.Mcr;
    ini.setValue(kMcrSection, "BuiltIn_Setup", boolText(mcr.BuiltIn_Setup));
    ini.setValue(kMcrSection, "McrSetupMode", std::to_string(mcr.McrSetupMode));
    ini.setValue(kMcrSection, "McrDelay", std::to_string(mcr.McrDelay));
    ini.setValue(kMcrSection, "TransmitChecksum", boolText(mcr.TransmitChecksum));
    ini.setValue(kMcrSection, "BF_Checksum", boolText(mcr.BF_Checksum));
    ini.setValue(kMcrSection, "PreambleString", mcr.PreambleString);
    ini.setValue(kMcrSection, "PostambleString", mcr.PostambleString);
    writeLegends(ini, setup.Legends);

    std::string error = writeFileAtomically(path, ini.serialize());
    if (!error.empty()) {
        return {false, std::move(error)};
    }
    return {};
}

FileReadResult LoadSetupIni(SetupRecord& setup, const std::string& path) {
    ClearSetup(setup);
    FileReadResult file = readFile(path);
    if (holdsNul(file)) {
        file.status = ReadStatus::Invalid;
        file.error = kNotASetupText;
    }
    // A missing, unreadable or invalid file reads as empty: every field its default.
    const IniDocument ini =
        IniDocument::parse(file.status == ReadStatus::Ok ? file.data : std::string());
    file.data.clear();

    setup.Mcr.LockedSetup = readBool(ini, kSetupSection, "LockedSetup");
    for (int key = 1; key <= kKeyCount; ++key) {
        setup.KeyStrings[key] = readString(ini, kKeysSection, keyName(key));
        setup.Func2Strings[key] = readString(ini, kKeysSection, func2Name(key));
    }
    SetupRecType& mcr = setup.Mcr;
    mcr.BuiltIn_Setup = readBool(ini, kMcrSection, "BuiltIn_Setup");
    mcr.McrSetupMode = readInteger(ini, kMcrSection, "McrSetupMode", kDefaultMcrSetupMode);
    mcr.McrDelay = readInteger(ini, kMcrSection, "McrDelay", kDefaultMcrDelay);
    mcr.TransmitChecksum = readBool(ini, kMcrSection, "TransmitChecksum");
    mcr.BF_Checksum = readBool(ini, kMcrSection, "BF_Checksum");
    mcr.PreambleString = readString(ini, kMcrSection, "PreambleString");
    mcr.PostambleString = readString(ini, kMcrSection, "PostambleString");
    readLegends(ini, setup.Legends);
    return file;
}

LoadResult LoadSetupFile(ProgramState& state, ExistingTwin existingTwin) {
    LoadResult result;
    const std::string path = state.SetupFileName;
    FileReadResult read;
    if (HasExtension(path, ".KBD")) {
        result.kbdImport = true;
        result.kbdStatus = ImportKbdFile(state.Setup, path, &read.error);
        if (result.kbdStatus == KbdImportStatus::ReadError) {
            read.status = ReadStatus::Failed;
        }
        if (result.kbdStatus == KbdImportStatus::Ok) {
            state.SetupFileName = WithIniExtension(path);
            result.twinExisted = readFile(state.SetupFileName, 0).status != ReadStatus::Missing;
            if (!result.twinExisted || existingTwin == ExistingTwin::Replace) {
                result.save = SaveSetupIni(state.Setup, state.SetupFileName);
            }
        }
    } else if (HasExtension(path, ".DAT")) {
        state.DatImportPath = path;
        read = ImportDatFile(state.Setup, state.DatImportPath);
        state.SetupFileName = WithIniExtension(path);
        result.twinExisted = readFile(state.SetupFileName, 0).status != ReadStatus::Missing;
        // A key list that is not there holds no setup: the keys stay as they were, and
        // saving them would overwrite its INI twin.
        if (read.status == ReadStatus::Missing) {
            read.status = ReadStatus::Failed;
        }
    } else {
        read = LoadSetupIni(state.Setup, path);
    }
    // A missing file is an empty setup; one that exists but cannot be read is not.
    if (read.status == ReadStatus::Failed || read.status == ReadStatus::Invalid) {
        result.unreadable = UnreadFile{path, read.error, read.status == ReadStatus::Invalid};
    }
    return result;
}

}  // namespace qk750
