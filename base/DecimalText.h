#pragma once
// Decimal numbers read from the front of a text the way strtol reads them (white space, an
// optional sign, digits), with std::from_chars doing the digits: no locale, no errno.
#include <algorithm>
#include <charconv>
#include <string_view>

// On success text is left just after the digits. False, text unchanged, when no number
// stands there or it does not fit into T.
template <typename T>
bool ReadDecimal(std::string_view& text, T& value) {
    std::string_view rest = text;
    rest.remove_prefix(std::min(rest.find_first_not_of(" \t\n\v\f\r"), rest.size()));
    // from_chars knows only the minus sign; "+-1" stays no number, as it is for strtol.
    if (rest.starts_with('+') && !rest.substr(1).starts_with('-'))
        rest.remove_prefix(1);
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
    if (error != std::errc{})
        return false;
    text = rest.substr(static_cast<std::size_t>(end - rest.data()));
    return true;
}
