#include "retalo/db/tsql/lexer.h"

#include <array>
#include <cctype>

namespace tsql {
namespace {

// ASCII letters by their codes: the same in every locale, and cheaper than asking it.
constexpr bool IsAsciiLetter(unsigned char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
constexpr bool IsIdentStart(unsigned char c) { return IsAsciiLetter(c) || c == '_' || c >= 0x80; }

constexpr bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
// The blanks of the "C" locale.
constexpr bool IsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Identifier characters by table: names make up most of the system's texts.
constexpr std::array<bool, 256> kIdentPart = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const auto u = static_cast<unsigned char>(c);
    table[u] = IsIdentStart(u) || IsDigit(u) || u == '@' || u == '#' || u == '$';
  }
  return table;
}();
inline bool IsIdentPart(unsigned char c) { return kIdentPart[c]; }

class Lexer {
 public:
  Lexer(std::string_view source, std::vector<Token>* tokens, std::string* error)
      : src_(source), tokens_(tokens), error_(error) {}

  bool Run() {
    while (true) {
      if (!SkipSpaceAndComments()) return false;
      if (pos_ >= src_.size()) break;
      if (!NextToken()) return false;
    }
    tokens_->push_back(Token{TokenKind::kEnd, "", src_.size(), 0});
    return true;
  }

 private:
  unsigned char At(size_t i) const {
    return i < src_.size() ? static_cast<unsigned char>(src_[i]) : '\0';
  }

  bool Fail(std::string_view what, size_t at) {
    *error_ = UnsupportedMessage(what, src_, at);
    return false;
  }

  bool SkipSpaceAndComments() {
    while (pos_ < src_.size()) {
      unsigned char c = At(pos_);
      if (IsSpace(c)) {
        ++pos_;
      } else if (c == '-' && At(pos_ + 1) == '-') {
        while (pos_ < src_.size() && src_[pos_] != '\n') ++pos_;
      } else if (c == '/' && At(pos_ + 1) == '*') {
        if (!SkipBlockComment()) return false;
      } else {
        break;
      }
    }
    return true;
  }

  // Block comments nest in T-SQL: /* a /* b */ c */ is one comment.
  bool SkipBlockComment() {
    size_t start = pos_;
    int depth = 0;
    while (pos_ < src_.size()) {
      if (At(pos_) == '/' && At(pos_ + 1) == '*') {
        ++depth;
        pos_ += 2;
      } else if (At(pos_) == '*' && At(pos_ + 1) == '/') {
        pos_ += 2;
        if (--depth == 0) return true;
      } else {
        ++pos_;
      }
    }
    return Fail("unterminated comment", start);
  }

  void Emit(TokenKind kind, std::string text, size_t start) {
    tokens_->push_back(Token{kind, std::move(text), start, pos_ - start});
  }

  // Reads a quoted run from pos_ (at the opening quote) to the closing `close`; a doubled closing
  // character stands for one.
  bool ReadQuoted(char close, std::string* value) {
    size_t start = pos_;
    ++pos_;
    while (pos_ < src_.size()) {
      char c = src_[pos_];
      if (c == close) {
        if (At(pos_ + 1) == static_cast<unsigned char>(close)) {
          value->push_back(close);
          pos_ += 2;
          continue;
        }
        ++pos_;
        return true;
      }
      // SQLite reads a statement's text up to its first NUL: one written into a string or a
      // name would cut the statement there.
      if (c == '\0') return Fail("NUL character", pos_);
      value->push_back(c);
      ++pos_;
    }
    return Fail(close == '\'' ? "unterminated string literal" : "unterminated quoted name", start);
  }

  bool ReadNumber() {
    size_t start = pos_;
    if (At(pos_) == '0' && (At(pos_ + 1) == 'x' || At(pos_ + 1) == 'X')) {
      return Fail("binary literal", start);
    }
    while (IsDigit(At(pos_))) ++pos_;
    if (At(pos_) == '.') {
      ++pos_;
      while (IsDigit(At(pos_))) ++pos_;
    }
    if (At(pos_) == 'e' || At(pos_) == 'E') {
      size_t exp = pos_ + 1;
      if (At(exp) == '+' || At(exp) == '-') ++exp;
      if (!IsDigit(At(exp))) return Fail("malformed number", start);
      pos_ = exp;
      while (IsDigit(At(pos_))) ++pos_;
    }
    if (IsIdentStart(At(pos_))) return Fail("malformed number", start);
    Emit(TokenKind::kNumber, std::string(src_.substr(start, pos_ - start)), start);
    return true;
  }

  bool ReadOperator() {
    static constexpr std::string_view kTwoChar[] = {"<=", ">=", "<>", "!=", "!<", "!>"};
    size_t start = pos_;
    // Every two-character operator ends in '=', '<' or '>': the common '(', ',' and '.' skip
    // the table.
    const unsigned char second = At(pos_ + 1);
    if (second == '=' || second == '<' || second == '>') {
      for (std::string_view op : kTwoChar) {
        if (src_.substr(pos_, 2) == op) {
          pos_ += 2;
          Emit(TokenKind::kOperator, std::string(op), start);
          return true;
        }
      }
    }
    static constexpr std::string_view kOneChar = "(),.;+-*/%=<>&|^~";
    if (kOneChar.find(src_[pos_]) == std::string_view::npos) {
      return Fail("character", start);
    }
    ++pos_;
    Emit(TokenKind::kOperator, std::string(1, src_[start]), start);
    return true;
  }

  bool NextToken() {
    size_t start = pos_;
    unsigned char c = At(pos_);
    if ((c == 'N' || c == 'n') && At(pos_ + 1) == '\'') {
      ++pos_;
      std::string value;
      if (!ReadQuoted('\'', &value)) return false;
      Emit(TokenKind::kNString, std::move(value), start);
      return true;
    }
    if (c == '\'') {
      std::string value;
      if (!ReadQuoted('\'', &value)) return false;
      Emit(TokenKind::kString, std::move(value), start);
      return true;
    }
    if (c == '[' || c == '"') {
      std::string value;
      if (!ReadQuoted(c == '[' ? ']' : '"', &value)) return false;
      Emit(TokenKind::kQuotedIdentifier, std::move(value), start);
      return true;
    }
    if (IsDigit(c) || (c == '.' && IsDigit(At(pos_ + 1)))) return ReadNumber();
    if (c == '@') {
      ++pos_;
      if (At(pos_) == '@') ++pos_;
      if (!IsIdentPart(At(pos_))) return Fail("variable name", start);
      while (IsIdentPart(At(pos_))) ++pos_;
      Emit(TokenKind::kVariable, std::string(src_.substr(start, pos_ - start)), start);
      return true;
    }
    if (IsIdentStart(c) || c == '#') {
      while (IsIdentPart(At(pos_))) ++pos_;
      Emit(TokenKind::kIdentifier, std::string(src_.substr(start, pos_ - start)), start);
      return true;
    }
    return ReadOperator();
  }

  std::string_view src_;
  std::vector<Token>* tokens_;
  std::string* error_;
  size_t pos_ = 0;
};

}  // namespace

bool Tokenize(std::string_view source, std::vector<Token>* tokens, std::string* error) {
  tokens->clear();
  tokens->reserve(source.size() / 4 + 1);  // about one token in four bytes of the system's texts
  return Lexer(source, tokens, error).Run();
}

std::string UnsupportedMessage(std::string_view construct, std::string_view source, size_t offset) {
  constexpr size_t kContext = 40;
  std::string_view near = offset < source.size() ? source.substr(offset) : std::string_view();
  if (near.size() > kContext) {
    size_t cut = kContext;
    // Never cut inside a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(near[cut]) & 0xC0) == 0x80) --cut;
    near = near.substr(0, cut);
  }
  std::string message = "unsupported T-SQL: ";
  message.append(construct);
  message.append(" near '");
  message.append(near);
  message.append("'");
  return message;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool IsWord(const Token& token, std::string_view word) {
  return token.kind == TokenKind::kIdentifier && SameName(token.text, word);
}

std::string UpperName(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

}  // namespace tsql
