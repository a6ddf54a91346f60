// Translation of parsed T-SQL statements into SQLite statements with SQL Server's meaning:
// names (db..table), TOP, the type rules of operators (string + string concatenates, a text
// compared with a number is read as a number), the SQL Server functions (as the registered
// "tsql_" functions), UPDATE ... FROM with the updated table named in the FROM, and the
// conversions SQL Server makes when a value is stored into a column. Column types come from the
// declared types of the attached databases' tables.
#ifndef RETALO_DB_TSQL_TRANSLATOR_H_
#define RETALO_DB_TSQL_TRANSLATOR_H_

#include <sqlite3.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "retalo/db/tsql/ast.h"
#include "retalo/db/tsql/types.h"

namespace tsql {

struct ColumnInfo {
  std::string name;
  SqlType type;
};

struct TableInfo {
  std::vector<ColumnInfo> columns;
  int identity = -1;  // the INTEGER PRIMARY KEY column, which stands for an IDENTITY column
};

// Declared columns of the tables a batch names, read once per table with PRAGMA table_info.
class Catalog {
 public:
  explicit Catalog(sqlite3* db) : db_(db) {}
  // nullptr when the table (or its database) is not there.
  const TableInfo* Find(const ObjectName& name);

 private:
  sqlite3* db_;
  std::map<std::string, std::optional<TableInfo>> tables_;
};

struct Variable {
  std::string name;  // @NAME, upper case; empty for the slot of a literal
  SqlType type;
};

// A literal of the text that the translation leaves to a parameter, so that texts differing only
// in such literals share one translation. Its slot is numbered with the variables.
struct LiteralSlot {
  enum class Form {
    kText,     // a string, bound as text
    kInteger,  // a whole number that fits 64 bits, bound as one
    kReal,     // a number with a point or an exponent, bound as its text and read by SQLite
  };
  int variable = 0;
  size_t token = 0;  // the literal's token in the batch
  Form form = Form::kText;
};

// A column of a query's result or of a table in scope.
struct RelColumn {
  std::string name;
  SqlType type;
};

// A translated query: its SQLite text and its result columns (complete when `columns_known`).
struct QueryText {
  std::string sql;
  std::vector<RelColumn> columns;
  bool columns_known = true;
};

class Translator {
 public:
  Translator(sqlite3* db, std::string_view source) : catalog_(db), source_(source) {}

  // From now on literals become parameters wherever their values cannot change the text of
  // the translation (literal_slots); the others are written into it (pinned_literals).
  void ParametrizeLiterals() { parametrize_ = true; }
  const std::vector<LiteralSlot>& literal_slots() const { return literal_slots_; }
  // Tokens of literals whose values the translation read (as a TOP, a CONVERT style, an ORDER BY
  // position...): a translation is shared only by texts with the same values there.
  const std::vector<size_t>& pinned_literals() const { return pinned_; }

  // The static types of literals, which depend on how they are written, never on the rest of
  // the text.
  static SqlType NumberLiteralType(const std::string& text);
  static SqlType StringLiteralType(const std::string& value, bool national);

  // Variables, numbered from 0 in the order they are declared; a variable is emitted as the
  // SQLite parameter ?<number + 1>. Literal slots take numbers among them.
  bool Declare(const Declaration& declaration);
  const std::vector<Variable>& variables() const { return variables_; }
  // Index of a declared variable; -1 (with the error set) when it is not declared.
  int VariableIndex(const std::string& name, size_t offset);

  // SELECT (a query whose items may be variable assignments; those are emitted as plain values).
  bool Select(const Query& query, QueryText* out);
  bool Insert(const Stmt& stmt, std::string* sql);
  bool Update(const Stmt& stmt, std::string* sql);
  bool Delete(const Stmt& stmt, std::string* sql);
  // "SELECT CASE WHEN <condition> THEN 1 ELSE 0 END" for IF.
  bool Condition(const Expr& condition, std::string* sql);
  // "SELECT <value>" for SET and DECLARE ... = value; *type is the value's static type.
  bool Scalar(const Expr& value, std::string* sql, SqlType* type);

  const std::string& error() const { return error_; }

  // An expression translated: its SQLite text and its static SQL Server type. `atomic` tells
  // that the text can take a postfix operator (COLLATE) without parentheses.
  struct Emitted {
    std::string sql;
    SqlType type;
    bool atomic = false;
  };

  struct Relation {
    std::string name;  // alias, or the table's own name
    std::vector<RelColumn> columns;
    bool known = false;
  };

  struct Scope {
    std::vector<Relation> relations;
    const Scope* outer = nullptr;  // the enclosing query's, for correlated subqueries
  };

  // Conversion of an emitted value to `to`, as CAST/CONVERT (store_mode 0) or as storing into a
  // column (1); nothing is emitted when SQL Server would not change the value.
  static Emitted Convert(const Emitted& value, const SqlType& to, int style, int store_mode);
  // A name as SQLite reads it: plain when it can be, else in backquotes.
  static std::string Quote(std::string_view name);

 private:
  bool Fail(const std::string& construct, size_t offset);
  // The SQLite text of a literal: `written` as it is, or a parameter (see ParametrizeLiterals).
  std::string Literal(const Expr& expr, std::string written);
  // Keeps a literal written into the translation: its value decides the translation's text.
  void Pin(const Expr& expr);

  // Queries (translator.cc).
  bool EmitQuery(const Query& query, const Scope* outer, QueryText* out);
  bool EmitCore(const SelectCore& core, const Scope* outer, QueryText* out, Scope* scope);
  bool EmitTop(const Expr& top, std::string* sql);
  bool EmitCompoundOrder(const Query& query, std::string* sql);
  bool EmitFrom(const TableSource& source, Scope* scope, std::string* sql);
  bool EmitUpdateFrom(const Stmt& stmt, Scope* scope, std::string* target_sql,
                      std::string* from_sql, std::vector<const Expr*>* conditions);
  Relation TableRelation(const ObjectName& name, const std::string& alias);
  std::string TableSql(const ObjectName& name) const;

  // Expressions (expression.cc).
  bool Emit(const Expr& expr, const Scope& scope, Emitted* out);
  // A search condition (WHERE, ON, HAVING, WHEN, IF): a comparison or a predicate, or AND, OR
  // and NOT of them, as T-SQL demands; a plain value is refused.
  bool EmitCondition(const Expr& expr, const Scope& scope, Emitted* out);
  bool EmitColumn(const Expr& expr, const Scope& scope, Emitted* out);
  bool EmitArithmeticChain(const std::vector<const Expr*>& operators, std::vector<Emitted> operands,
                           Emitted* out);
  bool EmitArithmetic(const Expr& expr, Emitted left, Emitted right, Emitted* out);
  bool EmitCompare(const Expr& expr, const Scope& scope, Emitted* out);
  bool EmitInOrBetween(const Expr& expr, const Scope& scope, Emitted* out);
  bool EmitCase(const Expr& expr, const Scope& scope, Emitted* out);
  bool EmitCast(const Expr& expr, const Scope& scope, Emitted* out);
  bool EmitFunction(const Expr& expr, const Scope& scope, Emitted* out);
  bool EmitAggregate(const Expr& expr, const Scope& scope, Emitted* out);
  bool EmitArgs(const Expr& expr, const Scope& scope, size_t min, size_t max,
                std::vector<Emitted>* args);
  // Brings operands of a comparison to one type (numbers win over texts); true when the
  // operands are texts, which then compare in the TSQL collation.
  bool Harmonize(std::vector<Emitted*> operands);
  // The value as a text argument of a string function.
  static std::string TextArg(const Emitted& value);

  Catalog catalog_;
  std::string_view source_;
  std::vector<Variable> variables_;
  bool parametrize_ = false;
  std::vector<LiteralSlot> literal_slots_;
  std::vector<size_t> pinned_;
  std::string error_;
};

}  // namespace tsql

#endif  // RETALO_DB_TSQL_TRANSLATOR_H_
