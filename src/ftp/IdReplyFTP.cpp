#include "ftp/IdReplyFTP.h"

#include "base/StrUtils.h"
#include "ftp/IdExceptions.h"

using namespace tavrin;

void TIdReplyFTP::SetCode(const std::string& code) {
    if (code == code_)
        return;
    if (!IsValidCode(code))
        throw EIdException("Reply Code is not valid: " + code);
    code_ = code;
}

int TIdReplyFTP::NumericCode() const {
    return StrToIntDef(code_, 0);
}

bool TIdReplyFTP::IsValidCode(const std::string& code) {
    if (Trim(code).empty())
        return true;
    const int value = StrToIntDef(code, 0);
    return value >= 100 && value <= 999;
}

bool TIdReplyFTP::IsLastReplyLine(const std::string& line) {
    if (line.size() <= 3)
        return TryStrToInt(line).has_value();
    return TryStrToInt(std::string_view(line).substr(0, 3)).has_value() && line[3] == ' ';
}

void TIdReplyFTP::Clear() {
    code_.clear();
    text_.clear();
    format_ = rfNormal;
}

void TIdReplyFTP::LoadReplyLines(const std::vector<std::string>& lines) {
    Clear();
    if (lines.empty())
        return;
    const std::string& first = lines.front();
    std::string code = Trim(std::string_view(first).substr(0, 4));
    if (code.size() == 4 && code[3] == '-')
        code.resize(3);
    SetCode(code);
    text_.push_back(first.size() > 4 ? first.substr(4) : std::string());
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (SameTextAscii(std::string_view(line).substr(0, 3), code_)) {
            text_.push_back(line.size() > 4 ? line.substr(4) : std::string());
        } else {
            // Some servers indent the middle lines of a multi-line reply instead of
            // repeating the code.
            if (!line.empty() && line[0] == ' ')
                format_ = rfIndentMidLines;
            text_.push_back(TrimLeft(line));
        }
    }
}

std::string TIdReplyFTP::JoinedText() const {
    std::string joined;
    for (const std::string& line : text_)
        joined += line + "\r\n";
    return joined;
}

std::string TIdReplyFTP::FormattedReply() const {
    std::string result;
    auto append = [&result](const std::string& line) {
        if (!result.empty())
            result += "\r\n";
        result += line;
    };
    if (NumericCode() == 0) {
        for (const std::string& line : text_)
            append(line);
    } else if (text_.empty()) {
        result = code_;
    } else {
        for (size_t i = 0; i < text_.size(); ++i) {
            if (i + 1 == text_.size())
                append(code_ + " " + text_[i]);
            else if (i > 0 && format_ == rfIndentMidLines)
                append(" " + text_[i]);
            else
                append(code_ + "-" + text_[i]);
        }
    }
    return result;
}

void TIdReplyFTP::RaiseForReply() const {
    throw EIdReplyRFCError(NumericCode(), JoinedText());
}
