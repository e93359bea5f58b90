#pragma once
// One FTP reply: the code as received and the text lines without their code prefixes.
// Knows nothing of commands; the connection feeds it the lines it read.
#include <string>
#include <vector>

enum TIdReplyRFCFormat { rfNormal, rfIndentMidLines };

class TIdReplyFTP {
public:
    const std::string& Code() const { return code_; }
    // Validates: raises EIdException "Reply Code is not valid: %s" unless IsValidCode.
    void SetCode(const std::string& code);
    int NumericCode() const; // 0 when empty or not a number
    const std::vector<std::string>& Text() const { return text_; }
    std::vector<std::string>& Text() { return text_; }
    TIdReplyRFCFormat ReplyFormat() const { return format_; }

    static bool IsValidCode(const std::string& code);
    // True when `line` is the last line of a reply.
    static bool IsLastReplyLine(const std::string& line);
    void LoadReplyLines(const std::vector<std::string>& lines);
    void Clear();

    // Text lines joined, each followed by CR LF (the message of a refused reply).
    std::string JoinedText() const;
    // The reply written back in wire form, lines separated by CR LF (no final CR LF).
    std::string FormattedReply() const;
    [[noreturn]] void RaiseForReply() const;

private:
    std::string code_;
    std::vector<std::string> text_;
    TIdReplyRFCFormat format_ = rfNormal;
};
