#include "dialect.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

namespace hub::ds {

namespace {

enum class TokenKind { Blank, Comment, String, QuotedName, Word, Number, Symbol };

struct Token {
    TokenKind kind;
    std::string_view text;
};

bool isWordStart(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return std::isalpha(byte) || c == '_' || byte >= 0x80;
}

bool isWordPart(char c) { return isWordStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '$'; }

// Unterminated literals and comments run to the end; SQLite reports them.
std::vector<Token> tokenize(std::string_view sql) {
    std::vector<Token> tokens;
    std::size_t at = 0;
    const auto quotedUntil = [&](char close) {
        std::size_t end = at + 1;
        while (end < sql.size()) {
            if (sql[end] == close) {
                // A doubled quote stands for itself inside the literal.
                if (close != ']' && end + 1 < sql.size() && sql[end + 1] == close) {
                    end += 2;
                    continue;
                }
                return end + 1;
            }
            ++end;
        }
        return sql.size();
    };
    while (at < sql.size()) {
        const char c = sql[at];
        std::size_t end = at + 1;
        TokenKind kind = TokenKind::Symbol;
        if (std::isspace(static_cast<unsigned char>(c))) {
            kind = TokenKind::Blank;
            while (end < sql.size() && std::isspace(static_cast<unsigned char>(sql[end]))) ++end;
        } else if (sql.substr(at, 2) == "--") {
            kind = TokenKind::Comment;
            end = std::min(sql.find('\n', at), sql.size());
        } else if (sql.substr(at, 2) == "/*") {
            kind = TokenKind::Comment;
            const std::size_t close = sql.find("*/", at + 2);
            end = close == std::string_view::npos ? sql.size() : close + 2;
        } else if (c == '\'') {
            kind = TokenKind::String;
            end = quotedUntil('\'');
        } else if (c == '"' || c == '`' || c == '[') {
            kind = TokenKind::QuotedName;
            end = quotedUntil(c == '[' ? ']' : c);
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   (c == '.' && at + 1 < sql.size() && std::isdigit(static_cast<unsigned char>(sql[at + 1])))) {
            kind = TokenKind::Number;
            while (end < sql.size() && (isWordPart(sql[end]) || sql[end] == '.' ||
                                        ((sql[end] == '+' || sql[end] == '-') && (sql[end - 1] == 'e' || sql[end - 1] == 'E')))) {
                ++end;
            }
        } else if (isWordStart(c)) {
            kind = TokenKind::Word;
            while (end < sql.size() && isWordPart(sql[end])) ++end;
        }
        tokens.push_back(Token{kind, sql.substr(at, end - at)});
        at = end;
    }
    return tokens;
}

// Whether `text` is `upper` written in any case.
bool sameWord(std::string_view text, std::string_view upper) {
    return std::equal(text.begin(), text.end(), upper.begin(), upper.end(),
                      [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
}

bool isKeyword(const Token& token, std::string_view keyword) {
    return token.kind == TokenKind::Word && sameWord(token.text, keyword);
}

bool isSymbol(const Token& token, char symbol) {
    return token.kind == TokenKind::Symbol && token.text.size() == 1 && token.text[0] == symbol;
}

bool isComparison(const Token& token) {
    return isSymbol(token, '=') || isSymbol(token, '<') || isSymbol(token, '>') || isSymbol(token, '!');
}

bool isName(const Token& token) { return token.kind == TokenKind::Word || token.kind == TokenKind::QuotedName; }

// What a string literal or quoted name holds between its quotes.
std::string unquoted(std::string_view quoted) {
    const char close = quoted.front() == '[' ? ']' : quoted.front();
    std::string value;
    const std::string_view inner = quoted.substr(1, quoted.size() - 2);
    for (std::size_t i = 0; i < inner.size(); ++i) {
        value += inner[i];
        if (inner[i] == close) ++i;  // the second of a doubled quote
    }
    return value;
}

// A name as SQLite reads it.
std::string nameValue(const Token& token) {
    return token.kind == TokenKind::QuotedName ? unquoted(token.text) : std::string(token.text);
}

bool namesAgentSchema(const Token& token) { return isName(token) && isAgentSchema(nameValue(token)); }

// An unterminated literal runs to the end of the statement with an odd
// number of apostrophes in it.
bool isTerminated(const Token& string) {
    return string.text.size() >= 2 && std::count(string.text.begin(), string.text.end(), '\'') % 2 == 0;
}

std::string stringLiteral(std::string_view value) {
    std::string literal = "'";
    for (const char c : value) {
        literal += c;
        if (c == '\'') literal += '\'';
    }
    return literal + "'";
}

// The hub's pattern, whose only wildcard is '*', as a GLOB pattern, which is
// case-sensitive and treats '%' and '_' as ordinary characters.
std::string globPattern(std::string_view hubPattern) {
    std::string glob;
    for (const char c : hubPattern) {
        switch (c) {
            case '?': glob += "[?]"; break;
            case '[': glob += "[[]"; break;
            default: glob += c; break;
        }
    }
    return glob;
}

std::string comparedAsFixedWidth(std::string_view literal) {
    return std::string(literal) + " COLLATE " + std::string(kFixedWidthCollation);
}

// Words that may follow a table reference without being its alias.
bool endsTableReference(const Token& token) {
    static constexpr std::array<std::string_view, 18> kClauseWords{
        "WHERE", "GROUP", "ORDER", "LIMIT", "HAVING", "UNION", "EXCEPT", "INTERSECT", "JOIN",
        "INNER", "LEFT",  "RIGHT", "FULL",  "CROSS",  "NATURAL", "ON", "USING", "WINDOW"};
    if (token.kind != TokenKind::Word) return token.kind != TokenKind::QuotedName;
    return std::any_of(kClauseWords.begin(), kClauseWords.end(),
                       [&](std::string_view word) { return isKeyword(token, word); });
}

class Translator {
  public:
    explicit Translator(std::string_view statement) : tokens_(tokenize(statement)) {
        for (const Token& token : tokens_) output_.emplace_back(token.text);
    }

    TranslatedStatement run() {
        for (std::size_t i = 0; i < tokens_.size(); ++i) {
            if (isKeyword(tokens_[i], "LIKE")) {
                translateLike(i);
            } else if (const std::size_t table = agentTable(i); table < tokens_.size()) {
                i = translateAt(i, table);
            } else if (isKeyword(tokens_[i], "AT") && isSymbol(at(next(i)), '(')) {
                throw DialectError("AT('node') must follow a table of schema KQV");
            } else if (tokens_[i].kind == TokenKind::String &&
                       (isComparison(at(previous(i))) || isComparison(at(next(i))))) {
                output_[i] = comparedAsFixedWidth(output_[i]);
            }
        }
        TranslatedStatement result;
        for (const std::string& piece : output_) result.sql += piece;
        result.agent = agent_;
        return result;
    }

  private:
    std::size_t next(std::size_t i) const {
        do ++i;
        while (i < tokens_.size() && (tokens_[i].kind == TokenKind::Blank || tokens_[i].kind == TokenKind::Comment));
        return i;
    }
    std::size_t previous(std::size_t i) const {
        while (i > 0) {
            --i;
            if (tokens_[i].kind != TokenKind::Blank && tokens_[i].kind != TokenKind::Comment) return i;
        }
        return tokens_.size();
    }
    const Token& at(std::size_t i) const {
        static const Token kEnd{TokenKind::Blank, {}};
        return i < tokens_.size() ? tokens_[i] : kEnd;
    }

    void translateLike(std::size_t like) {
        const std::size_t pattern = next(like);
        if (at(pattern).kind != TokenKind::String || !isTerminated(at(pattern))) return;
        if (isKeyword(at(next(pattern)), "ESCAPE")) {
            throw DialectError("LIKE ... ESCAPE is not part of the hub's SQL: '*' is the only wildcard");
        }
        output_[like] = "GLOB";
        output_[pattern] = stringLiteral(globPattern(unquoted(at(pattern).text)));
    }

    // The table token of a reference KQV.table that starts at `schema`, or
    // past the end. KQV.table.column names a column, not a table.
    std::size_t agentTable(std::size_t schema) const {
        const std::size_t none = tokens_.size();
        if (!namesAgentSchema(tokens_[schema]) || isSymbol(at(previous(schema)), '.')) return none;
        const std::size_t dot = next(schema);
        const std::size_t table = next(dot);
        if (!isSymbol(at(dot), '.') || !isName(at(table)) || isSymbol(at(next(table)), '.')) return none;
        return table;
    }

    // Rewrites the reference and its AT('node'); returns the index of AT's
    // closing parenthesis.
    std::size_t translateAt(std::size_t schema, std::size_t table) {
        const std::string tableName = nameValue(at(schema)) + "." + nameValue(at(table));
        const std::size_t atWord = next(table);
        if (!isKeyword(at(atWord), "AT") || !isSymbol(at(next(atWord)), '(')) {
            throw DialectError(tableName + " is an agent's table: route the statement with AT('node')");
        }
        const std::size_t literal = next(next(atWord));
        const std::size_t close = next(literal);
        if (at(literal).kind != TokenKind::String || !isTerminated(at(literal)) || !isSymbol(at(close), ')')) {
            throw DialectError("AT must be written AT('node')");
        }
        const std::string node = unquoted(at(literal).text);
        if (agent_ && *agent_ != node) {
            throw DialectError("one statement is routed to two agents: " + stringLiteral(*agent_) + " and " +
                               stringLiteral(node));
        }
        agent_ = node;

        std::string replacement = "(SELECT * FROM " + std::string(at(schema).text) + "." +
                                  std::string(at(table).text) + " WHERE AGENT = " +
                                  comparedAsFixedWidth(at(literal).text) + ")";
        const std::size_t after = next(close);
        if (after >= tokens_.size() || endsTableReference(at(after))) {
            replacement += " AS " + std::string(at(table).text);
            // AT('node')WHERE: the alias must not run into the word.
            const TokenKind following = at(close + 1).kind;
            if (following == TokenKind::Word || following == TokenKind::Number) replacement += ' ';
        }
        output_[schema] = std::move(replacement);
        for (std::size_t i = schema + 1; i <= close; ++i) output_[i].clear();
        return close;
    }

    std::vector<Token> tokens_;
    std::vector<std::string> output_;
    std::optional<std::string> agent_;
};

}  // namespace

TranslatedStatement translateStatement(std::string_view statement) { return Translator(statement).run(); }

bool isAgentSchema(std::string_view schema) { return sameWord(schema, "KQV"); }

}  // namespace hub::ds
