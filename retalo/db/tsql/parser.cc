#include "retalo/db/tsql/parser.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

#include "retalo/db/tsql/lexer.h"

namespace tsql {
namespace {

// Words that end an expression or a name: they can be neither aliases nor bare column names.
constexpr std::string_view kReserved[] = {
    "ALL",         "ALTER",
    "AND",         "ANY",
    "AS",          "ASC",
    "BEGIN",       "BETWEEN",
    "BREAK",       "BY",
    "CASE",        "CHECK",
    "CLOSE",       "COLLATE",
    "COMMIT",      "CONSTRAINT",
    "CONTINUE",    "CONVERT",
    "CREATE",      "CROSS",
    "CURRENT",     "CURRENT_TIMESTAMP",
    "CURSOR",      "DECLARE",
    "DEFAULT",     "DELETE",
    "DENY",        "DESC",
    "DISTINCT",    "DROP",
    "ELSE",        "END",
    "ESCAPE",      "EXCEPT",
    "EXEC",        "EXECUTE",
    "EXISTS",      "FETCH",
    "FOR",         "FOREIGN",
    "FROM",        "FULL",
    "FUNCTION",    "GOTO",
    "GRANT",       "GROUP",
    "HAVING",      "IDENTITY",
    "IF",          "IN",
    "INNER",       "INSERT",
    "INTERSECT",   "INTO",
    "IS",          "JOIN",
    "KEY",         "LEFT",
    "LIKE",        "MERGE",
    "NOT",         "NULL",
    "OF",          "ON",
    "OPEN",        "OPTION",
    "OR",          "ORDER",
    "OUTER",       "OUTPUT",
    "OVER",        "PERCENT",
    "PIVOT",       "PRIMARY",
    "PRINT",       "PROC",
    "PROCEDURE",   "RETURN",
    "REVOKE",      "RIGHT",
    "ROLLBACK",    "SELECT",
    "SET",         "TABLE",
    "THEN",        "TO",
    "TOP",         "TRAN",
    "TRANSACTION", "TRUNCATE",
    "UNION",       "UNIQUE",
    "UNPIVOT",     "UPDATE",
    "USE",         "VALUES",
    "VIEW",        "WHEN",
    "WHERE",       "WHILE",
    "WITH",
};

bool IsReserved(const Token& token) {
  if (token.kind != TokenKind::kIdentifier) return false;
  return std::any_of(std::begin(kReserved), std::end(kReserved),
                     [&](std::string_view word) { return SameName(token.text, word); });
}

// A name that may stand for a table, column or alias.
bool IsNamePart(const Token& token) {
  return token.kind == TokenKind::kQuotedIdentifier ||
         (token.kind == TokenKind::kIdentifier && !IsReserved(token) && token.text[0] != '#');
}

std::string Describe(const Token& token) {
  switch (token.kind) {
    case TokenKind::kEnd:
      return "end of text";
    case TokenKind::kIdentifier:
      return UpperName(token.text);
    case TokenKind::kVariable:
      return "variable " + token.text;
    default:
      return "'" + token.text + "'";
  }
}

ExprPtr MakeExpr(ExprKind kind, size_t offset) {
  auto expr = std::make_unique<Expr>();
  expr->kind = kind;
  expr->offset = offset;
  return expr;
}

class Parser {
 public:
  Parser(std::string_view source, std::vector<Token> tokens, std::string* error)
      : src_(source), tokens_(std::move(tokens)), error_(error) {}

  bool Batch(std::vector<StmtPtr>* out) {
    while (true) {
      while (AcceptOp(";")) {
      }
      if (Peek().kind == TokenKind::kEnd) return true;
      StmtPtr stmt = Statement();
      if (!stmt) return false;
      out->push_back(std::move(stmt));
    }
  }

 private:
  // ---- nesting ------------------------------------------------------------------------------

  // Deepest nesting of expressions, queries, joins and blocks a text may have: the tree is walked
  // recursively, so a hostile text must not be able to exhaust the stack.
  static constexpr int kMaxDepth = 256;

  // Counts levels of nesting for as long as it lives.
  class Nesting {
   public:
    explicit Nesting(Parser* parser) : parser_(parser) {}
    ~Nesting() { parser_->depth_ -= levels_; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;

    bool Add() {
      ++levels_;
      if (++parser_->depth_ <= kMaxDepth) return true;
      return parser_->Fail("nesting deeper than " + std::to_string(kMaxDepth) + " levels");
    }

   private:
    Parser* parser_;
    int levels_ = 0;
  };

  // ---- token access -------------------------------------------------------------------------

  const Token& Peek(size_t ahead = 0) const {
    return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)];
  }
  const Token& Next() {
    const Token& token = Peek();
    if (pos_ + 1 < tokens_.size()) ++pos_;
    return token;
  }
  bool PeekWord(std::string_view word, size_t ahead = 0) const { return IsWord(Peek(ahead), word); }
  bool PeekOp(std::string_view op, size_t ahead = 0) const {
    return Peek(ahead).kind == TokenKind::kOperator && Peek(ahead).text == op;
  }
  bool AcceptWord(std::string_view word) {
    if (!PeekWord(word)) return false;
    Next();
    return true;
  }
  bool AcceptOp(std::string_view op) {
    if (!PeekOp(op)) return false;
    Next();
    return true;
  }

  bool FailAt(const std::string& construct, size_t offset) {
    if (error_->empty()) *error_ = UnsupportedMessage(construct, src_, offset);
    return false;
  }
  bool Fail(const std::string& construct) { return FailAt(construct, Peek().offset); }
  bool ExpectOp(std::string_view op) {
    return AcceptOp(op) ||
           Fail("expected '" + std::string(op) + "' instead of " + Describe(Peek()));
  }
  bool ExpectWord(std::string_view word) {
    return AcceptWord(word) ||
           Fail("expected " + std::string(word) + " instead of " + Describe(Peek()));
  }

  // ---- statements ---------------------------------------------------------------------------

  StmtPtr Statement() {
    Nesting nesting(this);
    if (!nesting.Add()) return nullptr;
    const Token& token = Peek();
    if (token.kind != TokenKind::kIdentifier) {
      Fail("statement starting with " + Describe(token));
      return nullptr;
    }
    if (PeekWord("SELECT")) return SelectStatement();
    if (PeekWord("INSERT")) return InsertStatement();
    if (PeekWord("UPDATE")) return UpdateStatement();
    if (PeekWord("DELETE")) return DeleteStatement();
    if (PeekWord("IF")) return IfStatement();
    if (PeekWord("BEGIN")) return Block();
    if (PeekWord("DECLARE")) return DeclareStatement();
    if (PeekWord("SET")) return SetStatement();
    Fail(UpperName(token.text));
    return nullptr;
  }

  StmtPtr NewStmt(StmtKind kind) {
    auto stmt = std::make_unique<Stmt>();
    stmt->kind = kind;
    stmt->offset = Peek().offset;
    return stmt;
  }

  StmtPtr SelectStatement() {
    StmtPtr stmt = NewStmt(StmtKind::kSelect);
    stmt->query = ParseQuery(/*allow_assign=*/true);
    if (!stmt->query) return nullptr;
    const SelectCore& core = stmt->query->cores.front();
    size_t assigns = static_cast<size_t>(std::count_if(
        core.items.begin(), core.items.end(),
        [](const SelectItem& item) { return item.kind == SelectItem::Kind::kAssign; }));
    if (assigns != 0 && assigns != core.items.size()) {
      FailAt("variable assignment mixed with data retrieval", core.offset);
      return nullptr;
    }
    if (assigns != 0 && stmt->query->cores.size() > 1) {
      FailAt("variable assignment in a UNION", core.offset);
      return nullptr;
    }
    return stmt;
  }

  StmtPtr InsertStatement() {
    StmtPtr stmt = NewStmt(StmtKind::kInsert);
    Next();
    AcceptWord("INTO");
    if (!ObjectNameOf(&stmt->target)) return nullptr;
    if (AcceptOp("(")) {
      do {
        if (!IsNamePart(Peek())) {
          Fail("column list entry " + Describe(Peek()));
          return nullptr;
        }
        stmt->columns.push_back(Next().text);
      } while (AcceptOp(","));
      if (!ExpectOp(")")) return nullptr;
    }
    if (AcceptWord("VALUES")) {
      do {
        if (!ExpectOp("(")) return nullptr;
        std::vector<ExprPtr> row;
        if (!ExprList(&row)) return nullptr;
        if (!ExpectOp(")")) return nullptr;
        stmt->values.push_back(std::move(row));
      } while (AcceptOp(","));
      return stmt;
    }
    if (PeekWord("SELECT")) {
      stmt->query = ParseQuery(/*allow_assign=*/false);
      return stmt->query ? std::move(stmt) : nullptr;
    }
    if (PeekWord("DEFAULT")) {
      Fail("INSERT DEFAULT VALUES");
    } else if (PeekWord("EXEC") || PeekWord("EXECUTE")) {
      Fail("INSERT EXEC");
    } else {
      Fail("INSERT followed by " + Describe(Peek()));
    }
    return nullptr;
  }

  StmtPtr UpdateStatement() {
    StmtPtr stmt = NewStmt(StmtKind::kUpdate);
    Next();
    if (PeekWord("TOP")) {
      Fail("UPDATE TOP");
      return nullptr;
    }
    if (!ObjectNameOf(&stmt->target)) return nullptr;
    if (PeekWord("WITH") || PeekOp("(")) {
      Fail("table hint");
      return nullptr;
    }
    if (!ExpectWord("SET")) return nullptr;
    do {
      ColumnAssignment assignment;
      assignment.offset = Peek().offset;
      if (Peek().kind == TokenKind::kVariable) {
        Fail("variable assignment in UPDATE");
        return nullptr;
      }
      if (!IsNamePart(Peek())) {
        Fail("SET target " + Describe(Peek()));
        return nullptr;
      }
      assignment.name = Next().text;
      if (AcceptOp(".")) {
        if (!IsNamePart(Peek())) {
          Fail("SET target " + Describe(Peek()));
          return nullptr;
        }
        assignment.qualifier = std::move(assignment.name);
        assignment.name = Next().text;
      }
      if (!ExpectOp("=")) return nullptr;
      assignment.value = ParseExpr();
      if (!assignment.value) return nullptr;
      stmt->assignments.push_back(std::move(assignment));
    } while (AcceptOp(","));
    if (AcceptWord("FROM")) {
      stmt->from = TableSources();
      if (!stmt->from) return nullptr;
    }
    if (AcceptWord("WHERE")) {
      if (PeekWord("CURRENT")) {
        Fail("WHERE CURRENT OF");
        return nullptr;
      }
      stmt->where = ParseExpr();
      if (!stmt->where) return nullptr;
    }
    return stmt;
  }

  StmtPtr DeleteStatement() {
    StmtPtr stmt = NewStmt(StmtKind::kDelete);
    Next();
    if (PeekWord("TOP")) {
      Fail("DELETE TOP");
      return nullptr;
    }
    AcceptWord("FROM");
    if (!ObjectNameOf(&stmt->target)) return nullptr;
    if (PeekWord("FROM")) {
      Fail("DELETE with a second FROM");
      return nullptr;
    }
    if (AcceptWord("WHERE")) {
      stmt->where = ParseExpr();
      if (!stmt->where) return nullptr;
    }
    return stmt;
  }

  StmtPtr IfStatement() {
    StmtPtr stmt = NewStmt(StmtKind::kIf);
    Next();
    stmt->condition = ParseExpr();
    if (!stmt->condition) return nullptr;
    StmtPtr then_branch = Statement();
    if (!then_branch) return nullptr;
    stmt->body.push_back(std::move(then_branch));
    if (AcceptWord("ELSE")) {
      StmtPtr else_branch = Statement();
      if (!else_branch) return nullptr;
      stmt->body.push_back(std::move(else_branch));
    }
    return stmt;
  }

  StmtPtr Block() {
    if (PeekWord("TRAN", 1) || PeekWord("TRANSACTION", 1) || PeekWord("DISTRIBUTED", 1)) {
      Fail("transaction control");
      return nullptr;
    }
    if (PeekWord("TRY", 1) || PeekWord("CATCH", 1)) {
      Fail("BEGIN TRY/CATCH");
      return nullptr;
    }
    StmtPtr stmt = NewStmt(StmtKind::kBlock);
    Next();
    while (!PeekWord("END")) {
      if (AcceptOp(";")) continue;
      if (Peek().kind == TokenKind::kEnd) {
        FailAt("BEGIN without END", stmt->offset);
        return nullptr;
      }
      StmtPtr inner = Statement();
      if (!inner) return nullptr;
      stmt->body.push_back(std::move(inner));
    }
    if (stmt->body.empty()) {
      Fail("empty BEGIN ... END");
      return nullptr;
    }
    Next();
    return stmt;
  }

  StmtPtr DeclareStatement() {
    StmtPtr stmt = NewStmt(StmtKind::kDeclare);
    Next();
    do {
      Declaration declaration;
      declaration.offset = Peek().offset;
      if (Peek().kind != TokenKind::kVariable || Peek().text.rfind("@@", 0) == 0) {
        Fail("DECLARE of " + Describe(Peek()));
        return nullptr;
      }
      declaration.name = UpperName(Next().text);
      AcceptWord("AS");
      if (PeekWord("TABLE") || PeekWord("CURSOR")) {
        Fail(UpperName(Peek().text) + " variable");
        return nullptr;
      }
      if (!TypeOf(/*default_length=*/1, &declaration.type)) return nullptr;
      if (AcceptOp("=")) {
        declaration.init = ParseExpr();
        if (!declaration.init) return nullptr;
      }
      stmt->declarations.push_back(std::move(declaration));
    } while (AcceptOp(","));
    return stmt;
  }

  StmtPtr SetStatement() {
    StmtPtr stmt = NewStmt(StmtKind::kSet);
    Next();
    if (Peek().kind != TokenKind::kVariable || Peek().text.rfind("@@", 0) == 0) {
      Fail("SET option " + Describe(Peek()));
      return nullptr;
    }
    ColumnAssignment assignment;
    assignment.offset = Peek().offset;
    assignment.name = UpperName(Next().text);
    if (!ExpectOp("=")) return nullptr;
    assignment.value = ParseExpr();
    if (!assignment.value) return nullptr;
    stmt->assignments.push_back(std::move(assignment));
    return stmt;
  }

  // ---- names and types ----------------------------------------------------------------------

  // database..table, database.dbo.table, dbo.table or table.
  bool ObjectNameOf(ObjectName* name) {
    name->offset = Peek().offset;
    if (Peek().kind == TokenKind::kVariable) return Fail("table variable");
    if (!IsNamePart(Peek())) return Fail("table name " + Describe(Peek()));
    std::vector<std::string> parts{Next().text};
    while (AcceptOp(".")) {
      parts.push_back(IsNamePart(Peek()) ? Next().text : std::string());
    }
    if (parts.back().empty()) return Fail("table name " + Describe(Peek()));
    if (parts.size() > 3) return FailAt("linked server name", name->offset);
    const std::string& schema = parts.size() >= 2 ? parts[parts.size() - 2] : std::string();
    if (parts.size() >= 2 && !schema.empty() && !SameName(schema, "dbo")) {
      return FailAt("schema-qualified name", name->offset);
    }
    if (parts.size() == 2 && schema.empty()) return FailAt("table name", name->offset);
    if (parts.size() == 3) {
      if (parts[0].empty()) return FailAt("table name", name->offset);
      name->database = parts[0];
    }
    name->table = parts.back();
    return true;
  }

  bool TypeOf(int default_length, SqlType* type) {
    size_t offset = Peek().offset;
    if (Peek().kind != TokenKind::kIdentifier && Peek().kind != TokenKind::kQuotedIdentifier) {
      return Fail("data type " + Describe(Peek()));
    }
    std::string text = Next().text;
    if (AcceptOp("(")) {
      text += "(";
      if (Peek().kind != TokenKind::kNumber && !PeekWord("MAX")) {
        return Fail("data type length " + Describe(Peek()));
      }
      text += Next().text;
      if (AcceptOp(",")) {
        if (Peek().kind != TokenKind::kNumber) return Fail("data type scale " + Describe(Peek()));
        text += "," + Next().text;
      }
      if (!ExpectOp(")")) return false;
      text += ")";
    }
    *type = ParseTypeName(text, default_length);
    if (type->kind == TypeKind::kUnknown) return FailAt("data type " + text, offset);
    return true;
  }

  // ---- queries ------------------------------------------------------------------------------

  std::unique_ptr<Query> ParseQuery(bool allow_assign) {
    Nesting nesting(this);
    if (!nesting.Add()) return nullptr;
    auto query = std::make_unique<Query>();
    query->offset = Peek().offset;
    while (true) {
      SelectCore core;
      if (!Core(&core, allow_assign && query->cores.empty())) return nullptr;
      query->cores.push_back(std::move(core));
      SetOp op;
      if (AcceptWord("UNION")) {
        op = AcceptWord("ALL") ? SetOp::kUnionAll : SetOp::kUnion;
      } else if (AcceptWord("EXCEPT")) {
        op = SetOp::kExcept;
      } else if (AcceptWord("INTERSECT")) {
        op = SetOp::kIntersect;
      } else {
        break;
      }
      if (!PeekWord("SELECT")) {
        Fail("set operation followed by " + Describe(Peek()));
        return nullptr;
      }
      query->ops.push_back(op);
    }
    if (AcceptWord("ORDER")) {
      if (!ExpectWord("BY")) return nullptr;
      do {
        OrderItem item;
        item.expr = ParseExpr();
        if (!item.expr) return nullptr;
        if (AcceptWord("DESC")) {
          item.descending = true;
        } else {
          AcceptWord("ASC");
        }
        query->order_by.push_back(std::move(item));
      } while (AcceptOp(","));
    }
    return query;
  }

  bool Core(SelectCore* core, bool allow_assign) {
    core->offset = Peek().offset;
    if (!ExpectWord("SELECT")) return false;
    if (AcceptWord("DISTINCT")) {
      core->distinct = true;
    } else {
      AcceptWord("ALL");
    }
    if (PeekWord("TOP") && !Top(core)) return false;
    do {
      SelectItem item;
      if (!Item(&item, allow_assign)) return false;
      core->items.push_back(std::move(item));
    } while (AcceptOp(","));
    if (PeekWord("INTO")) return Fail("SELECT INTO");
    if (AcceptWord("FROM")) {
      core->from = TableSources();
      if (!core->from) return false;
    }
    if (AcceptWord("WHERE")) {
      core->where = ParseExpr();
      if (!core->where) return false;
    }
    if (AcceptWord("GROUP")) {
      if (!ExpectWord("BY")) return false;
      if (!ExprList(&core->group_by)) return false;
      if (PeekWord("WITH")) return Fail("GROUP BY WITH");
    }
    if (AcceptWord("HAVING")) {
      core->having = ParseExpr();
      if (!core->having) return false;
    }
    return true;
  }

  bool Top(SelectCore* core) {
    Next();
    if (AcceptOp("(")) {
      core->top = ParseExpr();
      if (!core->top || !ExpectOp(")")) return false;
    } else if (Peek().kind == TokenKind::kNumber) {
      core->top = MakeExpr(ExprKind::kNumber, Peek().offset);
      core->top->text = Next().text;
    } else {
      return Fail("TOP followed by " + Describe(Peek()));
    }
    if (PeekWord("PERCENT")) return Fail("TOP PERCENT");
    if (PeekWord("WITH") && PeekWord("TIES", 1)) return Fail("TOP WITH TIES");
    return true;
  }

  bool Item(SelectItem* item, bool allow_assign) {
    item->offset = Peek().offset;
    if (AcceptOp("*")) {
      item->kind = SelectItem::Kind::kStar;
      return true;
    }
    size_t k = 0;
    while (IsNamePart(Peek(k)) && PeekOp(".", k + 1)) k += 2;
    if (k > 0 && PeekOp("*", k)) {
      item->kind = SelectItem::Kind::kStar;
      for (size_t i = 0; i < k; i += 2) item->star_qualifier.push_back(Peek(i).text);
      for (size_t i = 0; i <= k; ++i) Next();
      return true;
    }
    if (Peek().kind == TokenKind::kVariable && PeekOp("=", 1)) {
      if (!allow_assign) return Fail("variable assignment in this place");
      item->kind = SelectItem::Kind::kAssign;
      item->variable = UpperName(Next().text);
      Next();
      item->expr = ParseExpr();
      return item->expr != nullptr;
    }
    if ((IsNamePart(Peek()) || Peek().kind == TokenKind::kString) && PeekOp("=", 1)) {
      item->alias = Next().text;  // T-SQL's "alias = expression"
      Next();
      item->expr = ParseExpr();
      return item->expr != nullptr;
    }
    item->expr = ParseExpr();
    if (!item->expr) return false;
    if (AcceptWord("AS")) {
      if (!IsNamePart(Peek()) && Peek().kind != TokenKind::kString) {
        return Fail("alias " + Describe(Peek()));
      }
      item->alias = Next().text;
    } else if (IsNamePart(Peek()) || Peek().kind == TokenKind::kString) {
      item->alias = Next().text;
    }
    return true;
  }

  std::unique_ptr<TableSource> TableSources() {
    Nesting nesting(this);
    std::unique_ptr<TableSource> source = JoinedTable();
    while (source && PeekOp(",")) {
      if (!nesting.Add()) return nullptr;
      size_t offset = Next().offset;
      std::unique_ptr<TableSource> right = JoinedTable();
      if (!right) return nullptr;
      source = MakeJoin(JoinType::kComma, std::move(source), std::move(right), offset);
    }
    return source;
  }

  static std::unique_ptr<TableSource> MakeJoin(JoinType type, std::unique_ptr<TableSource> left,
                                               std::unique_ptr<TableSource> right, size_t offset) {
    auto join = std::make_unique<TableSource>();
    join->kind = TableSource::Kind::kJoin;
    join->join = type;
    join->offset = offset;
    join->left = std::move(left);
    join->right = std::move(right);
    return join;
  }

  // Reads the join keywords before a joined table; false (with no error) when none follow.
  bool JoinKeywords(JoinType* type) {
    if (PeekWord("JOIN")) {
      Next();
      *type = JoinType::kInner;
    } else if (PeekWord("INNER") && PeekWord("JOIN", 1)) {
      Next();
      Next();
      *type = JoinType::kInner;
    } else if (PeekWord("LEFT") && (PeekWord("JOIN", 1) || PeekWord("OUTER", 1))) {
      Next();
      AcceptWord("OUTER");
      if (!ExpectWord("JOIN")) return false;
      *type = JoinType::kLeft;
    } else if (PeekWord("CROSS") && PeekWord("JOIN", 1)) {
      Next();
      Next();
      *type = JoinType::kCross;
    } else {
      return false;
    }
    return true;
  }

  std::unique_ptr<TableSource> JoinedTable() {
    Nesting nesting(this);
    std::unique_ptr<TableSource> left = TablePrimary();
    while (left) {
      if (!nesting.Add()) return nullptr;
      size_t offset = Peek().offset;
      JoinType type;
      if (!JoinKeywords(&type)) {
        if (!error_->empty()) return nullptr;
        if (PeekWord("RIGHT") || PeekWord("FULL") || PeekWord("INNER") || PeekWord("LEFT") ||
            PeekWord("CROSS") || PeekWord("OUTER")) {
          Fail(UpperName(Peek().text) + " " + UpperName(Peek(1).text));
          return nullptr;
        }
        break;
      }
      std::unique_ptr<TableSource> right = TablePrimary();
      if (!right) return nullptr;
      left = MakeJoin(type, std::move(left), std::move(right), offset);
      if (type != JoinType::kCross) {
        if (!ExpectWord("ON")) return nullptr;
        left->on = ParseExpr();
        if (!left->on) return nullptr;
      }
    }
    return left;
  }

  std::unique_ptr<TableSource> TablePrimary() {
    Nesting nesting(this);
    if (!nesting.Add()) return nullptr;
    auto source = std::make_unique<TableSource>();
    source->offset = Peek().offset;
    if (AcceptOp("(")) {
      if (!PeekWord("SELECT")) {
        std::unique_ptr<TableSource> inner = JoinedTable();
        if (!inner || !ExpectOp(")")) return nullptr;
        return inner;
      }
      source->kind = TableSource::Kind::kDerived;
      source->derived = ParseQuery(/*allow_assign=*/false);
      if (!source->derived || !ExpectOp(")")) return nullptr;
      AcceptWord("AS");
      if (!IsNamePart(Peek())) {
        Fail("derived table without alias");
        return nullptr;
      }
      source->alias = Next().text;
      if (PeekOp("(")) {
        Fail("derived table column list");
        return nullptr;
      }
      return source;
    }
    if (!ObjectNameOf(&source->name)) return nullptr;
    if (PeekOp("(")) {
      Fail("table hint or table-valued function");
      return nullptr;
    }
    if (AcceptWord("AS")) {
      if (!IsNamePart(Peek())) {
        Fail("alias " + Describe(Peek()));
        return nullptr;
      }
      source->alias = Next().text;
    } else if (IsNamePart(Peek())) {
      source->alias = Next().text;
    }
    if (PeekWord("WITH") && PeekOp("(", 1)) {
      Fail("table hint");
      return nullptr;
    }
    return source;
  }

  // ---- expressions --------------------------------------------------------------------------

  bool ExprList(std::vector<ExprPtr>* list) {
    do {
      ExprPtr expr = ParseExpr();
      if (!expr) return false;
      list->push_back(std::move(expr));
    } while (AcceptOp(","));
    return true;
  }

  ExprPtr Binary(ExprKind kind, std::string op, ExprPtr left, ExprPtr right) {
    ExprPtr expr = MakeExpr(kind, left->offset);
    expr->text = std::move(op);
    expr->args.push_back(std::move(left));
    expr->args.push_back(std::move(right));
    return expr;
  }

  ExprPtr ParseExpr() {
    Nesting nesting(this);
    if (!nesting.Add()) return nullptr;
    return Or();
  }

  // left {word right}: OR over ANDs, AND over NOTs.
  ExprPtr Chain(std::string_view word, ExprKind kind, ExprPtr (Parser::*operand)()) {
    Nesting nesting(this);
    ExprPtr left = (this->*operand)();
    while (left && AcceptWord(word)) {
      if (!nesting.Add()) return nullptr;
      ExprPtr right = (this->*operand)();
      if (!right) return nullptr;
      left = Binary(kind, std::string(word), std::move(left), std::move(right));
    }
    return left;
  }

  ExprPtr Or() { return Chain("OR", ExprKind::kOr, &Parser::And); }
  ExprPtr And() { return Chain("AND", ExprKind::kAnd, &Parser::Not); }

  ExprPtr Not() {
    if (!PeekWord("NOT")) return Predicate();
    Nesting nesting(this);
    if (!nesting.Add()) return nullptr;
    ExprPtr expr = MakeExpr(ExprKind::kNot, Next().offset);
    ExprPtr operand = Not();
    if (!operand) return nullptr;
    expr->args.push_back(std::move(operand));
    return expr;
  }

  static bool ComparisonOp(const Token& token, std::string* op) {
    if (token.kind != TokenKind::kOperator) return false;
    static constexpr std::pair<std::string_view, std::string_view> kOps[] = {
        {"=", "="},   {"<>", "<>"}, {"!=", "<>"}, {"<", "<"},   {">", ">"},
        {"<=", "<="}, {">=", ">="}, {"!<", ">="}, {"!>", "<="},
    };
    for (const auto& [written, normal] : kOps) {
      if (token.text == written) {
        *op = normal;
        return true;
      }
    }
    return false;
  }

  ExprPtr Predicate() {
    ExprPtr left = Additive();
    if (!left) return nullptr;
    std::string op;
    if (ComparisonOp(Peek(), &op)) {
      Next();
      ExprPtr right = Additive();
      if (!right) return nullptr;
      return Binary(ExprKind::kCompare, op, std::move(left), std::move(right));
    }
    if (AcceptWord("IS")) {
      ExprPtr expr = MakeExpr(ExprKind::kIsNull, left->offset);
      expr->negated = AcceptWord("NOT");
      if (!ExpectWord("NULL")) return nullptr;
      expr->args.push_back(std::move(left));
      return expr;
    }
    bool negated = false;
    if (PeekWord("NOT") && (PeekWord("IN", 1) || PeekWord("BETWEEN", 1) || PeekWord("LIKE", 1))) {
      Next();
      negated = true;
    }
    ExprPtr expr;
    if (AcceptWord("IN")) {
      expr = InPredicate(std::move(left));
    } else if (AcceptWord("BETWEEN")) {
      expr = MakeExpr(ExprKind::kBetween, left->offset);
      expr->args.push_back(std::move(left));
      ExprPtr low = Additive();
      if (!low || !ExpectWord("AND")) return nullptr;
      ExprPtr high = Additive();
      if (!high) return nullptr;
      expr->args.push_back(std::move(low));
      expr->args.push_back(std::move(high));
    } else if (AcceptWord("LIKE")) {
      expr = MakeExpr(ExprKind::kLike, left->offset);
      expr->args.push_back(std::move(left));
      ExprPtr pattern = Additive();
      if (!pattern) return nullptr;
      expr->args.push_back(std::move(pattern));
      if (AcceptWord("ESCAPE")) {
        ExprPtr escape = Additive();
        if (!escape) return nullptr;
        expr->args.push_back(std::move(escape));
      }
    } else {
      return left;
    }
    if (expr) expr->negated = negated;
    return expr;
  }

  ExprPtr InPredicate(ExprPtr left) {
    if (!ExpectOp("(")) return nullptr;
    ExprPtr expr;
    if (PeekWord("SELECT")) {
      expr = MakeExpr(ExprKind::kInQuery, left->offset);
      expr->query = ParseQuery(/*allow_assign=*/false);
      if (!expr->query) return nullptr;
      expr->args.push_back(std::move(left));
    } else {
      expr = MakeExpr(ExprKind::kInList, left->offset);
      expr->args.push_back(std::move(left));
      if (!ExprList(&expr->args)) return nullptr;
    }
    if (!ExpectOp(")")) return nullptr;
    return expr;
  }

  // left {op right} for the arithmetic operators of one precedence level.
  ExprPtr Arithmetic(std::initializer_list<std::string_view> ops, ExprPtr (Parser::*operand)()) {
    Nesting nesting(this);
    ExprPtr left = (this->*operand)();
    while (left) {
      if (PeekOp("&") || PeekOp("|") || PeekOp("^")) {
        Fail("bitwise operator " + Peek().text);
        return nullptr;
      }
      if (std::none_of(ops.begin(), ops.end(), [&](std::string_view op) { return PeekOp(op); })) {
        break;
      }
      if (!nesting.Add()) return nullptr;
      std::string op = Next().text;
      ExprPtr right = (this->*operand)();
      if (!right) return nullptr;
      left = Binary(ExprKind::kBinary, op, std::move(left), std::move(right));
    }
    return left;
  }

  ExprPtr Additive() { return Arithmetic({"+", "-"}, &Parser::Multiplicative); }
  ExprPtr Multiplicative() { return Arithmetic({"*", "/", "%"}, &Parser::Unary); }

  ExprPtr Unary() {
    if (PeekOp("~")) {
      Fail("bitwise operator ~");
      return nullptr;
    }
    if (PeekOp("-") || PeekOp("+")) {
      Nesting nesting(this);
      if (!nesting.Add()) return nullptr;
      ExprPtr expr = MakeExpr(ExprKind::kUnary, Peek().offset);
      expr->text = Next().text;
      ExprPtr operand = Unary();
      if (!operand) return nullptr;
      expr->args.push_back(std::move(operand));
      return expr;
    }
    ExprPtr expr = Primary();
    if (expr && PeekWord("COLLATE")) {
      Fail("COLLATE clause");
      return nullptr;
    }
    return expr;
  }

  ExprPtr Primary() {
    const Token& token = Peek();
    switch (token.kind) {
      case TokenKind::kNumber: {
        ExprPtr expr = MakeExpr(ExprKind::kNumber, token.offset);
        expr->token = pos_;
        expr->text = Next().text;
        return expr;
      }
      case TokenKind::kString:
      case TokenKind::kNString: {
        ExprPtr expr = MakeExpr(ExprKind::kString, token.offset);
        expr->national = token.kind == TokenKind::kNString;
        expr->token = pos_;
        expr->text = Next().text;
        return expr;
      }
      case TokenKind::kVariable: {
        if (token.text.rfind("@@", 0) == 0) {
          Fail("system variable " + UpperName(token.text));
          return nullptr;
        }
        ExprPtr expr = MakeExpr(ExprKind::kVariable, token.offset);
        expr->text = UpperName(Next().text);
        return expr;
      }
      case TokenKind::kOperator:
        if (PeekOp("(")) return Parenthesized();
        break;
      case TokenKind::kQuotedIdentifier:
        return Column();
      case TokenKind::kIdentifier:
        return WordExpr();
      case TokenKind::kEnd:
        break;
    }
    Fail("expression starting with " + Describe(token));
    return nullptr;
  }

  ExprPtr Parenthesized() {
    size_t offset = Next().offset;
    if (PeekWord("SELECT")) {
      ExprPtr expr = MakeExpr(ExprKind::kSubquery, offset);
      expr->query = ParseQuery(/*allow_assign=*/false);
      if (!expr->query || !ExpectOp(")")) return nullptr;
      return expr;
    }
    ExprPtr expr = ParseExpr();
    if (!expr || !ExpectOp(")")) return nullptr;
    return expr;
  }

  ExprPtr WordExpr() {
    const Token& token = Peek();
    if (PeekWord("NULL")) return MakeExpr(ExprKind::kNull, Next().offset);
    if (PeekWord("CURRENT_TIMESTAMP")) return MakeExpr(ExprKind::kGetDate, Next().offset);
    if (PeekWord("CASE")) return Case();
    if (PeekWord("CAST")) return Cast();
    if (PeekWord("CONVERT")) return Convert();
    if (PeekWord("EXISTS")) {
      ExprPtr expr = MakeExpr(ExprKind::kExists, Next().offset);
      if (!ExpectOp("(")) return nullptr;
      if (!PeekWord("SELECT")) {
        Fail("EXISTS without a query");
        return nullptr;
      }
      expr->query = ParseQuery(/*allow_assign=*/false);
      if (!expr->query || !ExpectOp(")")) return nullptr;
      return expr;
    }
    if (PeekOp("(", 1) && (!IsReserved(token) || PeekWord("LEFT") || PeekWord("RIGHT"))) {
      return Function();
    }
    if (IsReserved(token)) {
      Fail(UpperName(token.text));
      return nullptr;
    }
    return Column();
  }

  ExprPtr Column() {
    ExprPtr expr = MakeExpr(ExprKind::kColumn, Peek().offset);
    expr->parts.push_back(Next().text);
    while (PeekOp(".") && IsNamePart(Peek(1))) {
      Next();
      expr->parts.push_back(Next().text);
    }
    if (PeekOp(".")) {
      Fail("name part " + Describe(Peek(1)));
      return nullptr;
    }
    return expr;
  }

  ExprPtr Function() {
    ExprPtr expr = MakeExpr(ExprKind::kFunction, Peek().offset);
    expr->text = UpperName(Next().text);
    Next();  // (
    if (expr->text == "GETDATE") {
      if (!ExpectOp(")")) return nullptr;
      expr->kind = ExprKind::kGetDate;
      return expr;
    }
    if (PeekOp("*")) {
      if (expr->text != "COUNT") {
        Fail(expr->text + "(*)");
        return nullptr;
      }
      Next();
      expr->star = true;
    } else if (!PeekOp(")")) {
      if (AcceptWord("DISTINCT")) {
        expr->distinct = true;
      } else {
        AcceptWord("ALL");
      }
      if (!ExprList(&expr->args)) return nullptr;
    }
    if (!ExpectOp(")")) return nullptr;
    if (PeekWord("OVER")) {
      Fail("window function OVER");
      return nullptr;
    }
    return expr;
  }

  ExprPtr Case() {
    ExprPtr expr = MakeExpr(ExprKind::kCase, Next().offset);
    if (!PeekWord("WHEN")) {
      ExprPtr operand = ParseExpr();
      if (!operand) return nullptr;
      expr->has_operand = true;
      expr->args.push_back(std::move(operand));
    }
    while (AcceptWord("WHEN")) {
      ExprPtr when = ParseExpr();
      if (!when || !ExpectWord("THEN")) return nullptr;
      ExprPtr then = ParseExpr();
      if (!then) return nullptr;
      expr->args.push_back(std::move(when));
      expr->args.push_back(std::move(then));
    }
    if (expr->args.size() < (expr->has_operand ? 3u : 2u)) {
      Fail("CASE without WHEN");
      return nullptr;
    }
    if (AcceptWord("ELSE")) {
      ExprPtr otherwise = ParseExpr();
      if (!otherwise) return nullptr;
      expr->has_else = true;
      expr->args.push_back(std::move(otherwise));
    }
    if (!ExpectWord("END")) return nullptr;
    return expr;
  }

  // CAST(expression AS type)
  ExprPtr Cast() {
    ExprPtr expr = MakeExpr(ExprKind::kCast, Next().offset);
    if (!ExpectOp("(")) return nullptr;
    ExprPtr operand = ParseExpr();
    if (!operand || !ExpectWord("AS")) return nullptr;
    if (!TypeOf(/*default_length=*/30, &expr->cast_type) || !ExpectOp(")")) return nullptr;
    expr->args.push_back(std::move(operand));
    return expr;
  }

  // CONVERT(type, expression [, style])
  ExprPtr Convert() {
    ExprPtr expr = MakeExpr(ExprKind::kCast, Next().offset);
    if (!ExpectOp("(")) return nullptr;
    if (!TypeOf(/*default_length=*/30, &expr->cast_type) || !ExpectOp(",")) return nullptr;
    ExprPtr operand = ParseExpr();
    if (!operand) return nullptr;
    expr->args.push_back(std::move(operand));
    if (AcceptOp(",")) {
      ExprPtr style = ParseExpr();
      if (!style) return nullptr;
      expr->args.push_back(std::move(style));
    }
    if (!ExpectOp(")")) return nullptr;
    return expr;
  }

  std::string_view src_;
  std::vector<Token> tokens_;
  std::string* error_;
  size_t pos_ = 0;
  int depth_ = 0;
};

}  // namespace

bool ParseBatch(std::string_view source, std::vector<StmtPtr>* statements, std::string* error) {
  std::vector<Token> tokens;
  error->clear();
  if (!Tokenize(source, &tokens, error)) return false;
  return ParseTokens(source, std::move(tokens), statements, error);
}

bool ParseTokens(std::string_view source, std::vector<Token> tokens,
                 std::vector<StmtPtr>* statements, std::string* error) {
  statements->clear();
  return Parser(source, std::move(tokens), error).Batch(statements);
}

}  // namespace tsql
