#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qk750 {

// In-memory copy of an INI file. Sections and keys stay in file order; unknown
// sections, keys, comment lines and any other lines are kept as they were, so a save
// changes only the values it sets. Section and key names are matched without regard to
// ASCII letter case; values are bytes, kept exactly as they stand after the first "=".
class IniDocument {
public:
    // Lines end with LF or CR LF.
    static IniDocument parse(std::string_view text);

    // Every line ended by CR LF. CR and LF bytes inside a value are dropped: they would
    // split the line and lose the rest of the value.
    std::string serialize() const;

    // The text after the first "=" of the first line of the key in the first section of
    // that name; nullopt when there is none.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    // Replaces an existing value in place; a new key goes after the last non-blank line of
    // its section, a new section at the end of the document.
    void setValue(std::string_view section, std::string_view key, std::string_view value);

    // Removes every line of the key from the first section of that name.
    void removeKey(std::string_view section, std::string_view key);

    bool isEmpty() const { return m_sections.empty(); }

private:
    struct Line {
        std::string text;    // the line as read, for lines that are not key=value
        std::string key;     // trimmed key name; empty for other lines
        std::string prefix;  // the line's text before its first "=", as written
        std::string value;   // the line's text after its first "="
        bool isEntry = false;
    };
    struct Section {
        std::string name;    // trimmed name between the brackets
        std::string header;  // the header line as read; empty for the lines before any section
        bool hasHeader = false;
        std::vector<Line> lines;
    };

    Section* findSection(std::string_view name);
    const Section* findSection(std::string_view name) const;

    std::vector<Section> m_sections;
};

}  // namespace qk750
