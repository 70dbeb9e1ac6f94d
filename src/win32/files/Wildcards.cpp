#include "win32/files/Wildcards.h"

#include "win32/base/HiveTree.h"

#include <string>
#include <vector>

namespace win32 {

namespace {

// The pattern in the file system's terms: besides "*" and "?", DOS_STAR ("*" before a
// period), DOS_QM (every "?") and DOS_DOT (a period before a wildcard or at the end).
enum class Token { Char, Star, DosStar, DosQm, DosDot };

struct Piece {
    Token token;
    char16_t c;
};

std::vector<Piece> translate(std::u16string_view pattern) {
    std::vector<Piece> out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        const char16_t next = i + 1 < pattern.size() ? pattern[i + 1] : u'\0';
        if (c == u'?')
            out.push_back({Token::DosQm, c});
        else if (c == u'*')
            out.push_back({next == u'.' ? Token::DosStar : Token::Star, c});
        else if (c == u'.' && (next == u'?' || next == u'*' || i + 1 == pattern.size()))
            out.push_back({Token::DosDot, c});
        else
            out.push_back({Token::Char, UpcaseChar(c)});
    }
    return out;
}

class Matcher {
public:
    Matcher(std::vector<Piece> pattern, std::u16string name)
        : p_(std::move(pattern)), n_(std::move(name)), lastDot_(n_.rfind(u'.')),
          memo_((p_.size() + 1) * (n_.size() + 1), -1) {}

    bool match(size_t pi, size_t ni) {
        signed char& seen = memo_[pi * (n_.size() + 1) + ni];
        if (seen < 0)
            seen = compute(pi, ni) ? 1 : 0;
        return seen == 1;
    }

private:
    bool compute(size_t pi, size_t ni) {
        if (pi == p_.size())
            return ni == n_.size();
        const Piece& piece = p_[pi];
        const bool atEnd = ni == n_.size();
        switch (piece.token) {
        case Token::Char:
            return !atEnd && n_[ni] == piece.c && match(pi + 1, ni + 1);
        case Token::Star:
            for (size_t j = ni; j <= n_.size(); ++j)
                if (match(pi + 1, j))
                    return true;
            return false;
        case Token::DosStar: {
            // Any run of characters that does not pass the name's last period.
            const size_t limit =
                (lastDot_ != std::u16string::npos && lastDot_ >= ni) ? lastDot_ : n_.size();
            for (size_t j = ni; j <= limit; ++j)
                if (match(pi + 1, j))
                    return true;
            return false;
        }
        case Token::DosQm: {
            if (atEnd || n_[ni] == u'.') {
                size_t next = pi;
                while (next < p_.size() && p_[next].token == Token::DosQm)
                    ++next;
                return match(next, ni);
            }
            return match(pi + 1, ni + 1);
        }
        case Token::DosDot:
            if (atEnd)
                return match(pi + 1, ni);
            return n_[ni] == u'.' && match(pi + 1, ni + 1);
        }
        return false;
    }

    std::vector<Piece> p_;
    std::u16string n_;
    size_t lastDot_;
    std::vector<signed char> memo_;
};

} // namespace

bool MatchesFilePattern(std::u16string_view pattern, std::u16string_view name) {
    if (pattern == u"*" || pattern == u"*.*")
        return true;
    return Matcher(translate(pattern), UpcaseName(name)).match(0, 0);
}

} // namespace win32
