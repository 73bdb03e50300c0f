#include "setup/ini_document.h"

#include "setup/text_utils.h"

namespace qk750 {

namespace {

// The name of a section header line ("[Keys]", blanks allowed around and inside the
// brackets), or nullopt for any other line.
std::optional<std::string_view> sectionName(std::string_view line) {
    const std::string_view trimmed = trimControl(line);
    if (trimmed.empty() || trimmed.front() != '[') {
        return std::nullopt;
    }
    const std::size_t close = trimmed.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return trimControl(trimmed.substr(1, close - 1));
}

bool isComment(std::string_view line) {
    const std::string_view trimmed = trimControl(line);
    return !trimmed.empty() && trimmed.front() == ';';
}

void appendWithoutLineBreaks(std::string& out, std::string_view value) {
    for (char c : value) {
        if (c != '\r' && c != '\n') {
            out += c;
        }
    }
}

}  // namespace

IniDocument IniDocument::parse(std::string_view text) {
    IniDocument document;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = (end == std::string_view::npos) ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }

        if (const auto name = sectionName(line)) {
            Section section;
            section.name = std::string(*name);
            section.header = std::string(line);
            section.hasHeader = true;
            document.m_sections.push_back(std::move(section));
            continue;
        }
        if (document.m_sections.empty()) {
            document.m_sections.emplace_back();  // the lines before any section
        }
        Line entry;
        const std::size_t equals = line.find('=');
        if (equals != std::string_view::npos && !isComment(line)) {
            entry.key = std::string(trimControl(line.substr(0, equals)));
        }
        if (entry.key.empty()) {
            entry.text = std::string(line);
        } else {
            entry.isEntry = true;
            entry.prefix = std::string(line.substr(0, equals));
            entry.value = std::string(line.substr(equals + 1));
        }
        document.m_sections.back().lines.push_back(std::move(entry));
    }
    return document;
}

std::string IniDocument::serialize() const {
    std::string out;
    for (const Section& section : m_sections) {
        if (section.hasHeader) {
            out += section.header;
            out += "\r\n";
        }
        for (const Line& line : section.lines) {
            if (line.isEntry) {
                out += line.prefix;
                out += '=';
                appendWithoutLineBreaks(out, line.value);
            } else {
                out += line.text;
            }
            out += "\r\n";
        }
    }
    return out;
}

std::optional<std::string> IniDocument::value(std::string_view section,
                                              std::string_view key) const {
    const Section* found = findSection(section);
    if (found == nullptr) {
        return std::nullopt;
    }
    for (const Line& line : found->lines) {
        if (line.isEntry && equalsIgnoreCase(line.key, key)) {
            return line.value;
        }
    }
    return std::nullopt;
}

void IniDocument::setValue(std::string_view section, std::string_view key, std::string_view value) {
    Section* target = findSection(section);
    if (target == nullptr) {
        Section added;
        added.name = std::string(section);
        added.header = "[" + added.name + "]";
        added.hasHeader = true;
        m_sections.push_back(std::move(added));
        target = &m_sections.back();
    }
    for (Line& line : target->lines) {
        if (line.isEntry && equalsIgnoreCase(line.key, key)) {
            line.value = std::string(value);
            return;
        }
    }
    // Blank lines that end a section keep separating it from the next one.
    std::size_t insertAt = target->lines.size();
    while (insertAt > 0) {
        const Line& previous = target->lines[insertAt - 1];
        if (previous.isEntry || !trimControl(previous.text).empty()) {
            break;
        }
        --insertAt;
    }
    Line added;
    added.isEntry = true;
    added.key = std::string(key);
    added.prefix = added.key;
    added.value = std::string(value);
    target->lines.insert(target->lines.begin() + static_cast<std::ptrdiff_t>(insertAt),
                         std::move(added));
}

void IniDocument::removeKey(std::string_view section, std::string_view key) {
    if (Section* target = findSection(section)) {
        std::erase_if(target->lines, [key](const Line& line) {
            return line.isEntry && equalsIgnoreCase(line.key, key);
        });
    }
}

IniDocument::Section* IniDocument::findSection(std::string_view name) {
    for (Section& section : m_sections) {
        if (section.hasHeader && equalsIgnoreCase(section.name, name)) {
            return &section;
        }
    }
    return nullptr;
}

const IniDocument::Section* IniDocument::findSection(std::string_view name) const {
    for (const Section& section : m_sections) {
        if (section.hasHeader && equalsIgnoreCase(section.name, name)) {
            return &section;
        }
    }
    return nullptr;
}

}  // namespace qk750
