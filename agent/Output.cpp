#include "Output.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ostream>

namespace NatAgent {

namespace {

bool isNumber(const std::string& cell) {
    return !cell.empty() && std::all_of(cell.begin(), cell.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

}  // namespace

TextTable::TextTable(std::vector<std::string> header) {
    rows_.push_back(std::move(header));
}

void TextTable::row(std::vector<std::string> cells) {
    rows_.push_back(std::move(cells));
}

void TextTable::print(std::ostream& out) const {
    std::vector<std::size_t> widths;
    for (const auto& row : rows_) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        std::string line;
        for (std::size_t i = 0; i < rows_[r].size(); ++i) {
            const std::string& cell = rows_[r][i];
            const std::string pad(widths[i] - cell.size(), ' ');
            if (i > 0) {
                line += "  ";
            }
            line += r > 0 && isNumber(cell) ? pad + cell : cell + pad;
        }
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << '\n';
    }
}

std::string jsonQuoted(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

void JsonLine::key(std::string_view name) {
    if (text_.size() > 1) {
        text_ += ',';
    }
    text_ += jsonQuoted(name);
    text_ += ':';
}

JsonLine& JsonLine::field(std::string_view name, std::string_view text) {
    key(name);
    text_ += jsonQuoted(text);
    return *this;
}

JsonLine& JsonLine::field(std::string_view name, std::uint64_t number) {
    key(name);
    text_ += std::to_string(number);
    return *this;
}

JsonLine& JsonLine::flag(std::string_view name, bool value) {
    key(name);
    text_ += value ? "true" : "false";
    return *this;
}

std::string durationText(Seconds seconds) {
    char text[32];
    if (seconds.count() >= 1.0) {
        std::snprintf(text, sizeof text, "%.2f s", seconds.count());
    } else if (seconds.count() >= 1e-3) {
        std::snprintf(text, sizeof text, "%.1f ms", seconds.count() * 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.0f us", seconds.count() * 1e6);
    }
    return text;
}

std::string rateText(std::uint64_t count, Seconds seconds) {
    if (seconds.count() <= 0.0) {
        return "-";
    }
    return std::to_string(
               static_cast<std::uint64_t>(static_cast<double>(count) / seconds.count())) +
           " entries/s";
}

std::string hexText(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

}  // namespace NatAgent
