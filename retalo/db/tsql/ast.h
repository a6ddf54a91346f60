// Syntax tree of the T-SQL subset: queries, the data-changing statements, and the control flow
// (IF/ELSE, BEGIN/END, DECLARE, SET) that a batch may hold. Every node keeps the byte offset of
// its first token so that a message can point at the source.
#ifndef RETALO_DB_TSQL_AST_H_
#define RETALO_DB_TSQL_AST_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "retalo/db/tsql/types.h"

namespace tsql {

struct Query;

enum class ExprKind {
  kNumber,  // text: as written
  kString,  // text: the value; national: N'..'
  kNull,
  kColumn,    // parts: [qualifier..., column]
  kVariable,  // text: name with @, upper case
  kUnary,     // text: "-" or "+"; args[0]
  kBinary,    // text: "+", "-", "*", "/", "%"; args[0], args[1]
  kCompare,   // text: "=", "<>", "<", ">", "<=", ">="; args[0], args[1]
  kAnd,       // args[0], args[1]
  kOr,        // args[0], args[1]
  kNot,       // args[0]
  kIsNull,    // args[0]; negated: IS NOT NULL
  kInList,    // args[0] IN (args[1..]); negated
  kInQuery,   // args[0] IN (query); negated
  kBetween,   // args[0] BETWEEN args[1] AND args[2]; negated
  kLike,      // args[0] LIKE args[1] [ESCAPE args[2]]; negated
  kExists,    // EXISTS (query)
  kSubquery,  // (query) as a value
  kCase,      // [operand] (when, then)... [else]; has_operand, has_else
  kFunction,  // text: name in upper case; args; distinct; star (COUNT(*))
  kCast,      // CAST/CONVERT of args[0] to cast_type; args[1] is CONVERT's style when present
  kGetDate,   // GETDATE() and CURRENT_TIMESTAMP
};

// Marks an expression that is not a literal written in the text.
inline constexpr size_t kNoToken = static_cast<size_t>(-1);

struct Expr {
  ExprKind kind = ExprKind::kNull;
  size_t offset = 0;
  size_t token = kNoToken;  // kNumber, kString written as a value: its index in the token list
  std::string text;
  std::vector<std::string> parts;
  std::vector<std::unique_ptr<Expr>> args;
  std::unique_ptr<Query> query;
  SqlType cast_type;
  bool national = false;
  bool negated = false;
  bool distinct = false;
  bool star = false;
  bool has_operand = false;
  bool has_else = false;
};

using ExprPtr = std::unique_ptr<Expr>;

// database..table, database.dbo.table, dbo.table or table.
struct ObjectName {
  std::string database;  // empty: not named
  std::string table;
  size_t offset = 0;
};

struct SelectItem {
  enum class Kind { kExpr, kStar, kAssign };
  Kind kind = Kind::kExpr;
  ExprPtr expr;
  std::string alias;                        // empty: none given
  std::vector<std::string> star_qualifier;  // kStar: "B1" of B1.*, empty for *
  std::string variable;                     // kAssign: @name, upper case
  size_t offset = 0;
};

enum class JoinType { kInner, kLeft, kCross, kComma };

struct TableSource {
  enum class Kind { kTable, kDerived, kJoin };
  Kind kind = Kind::kTable;
  size_t offset = 0;
  ObjectName name;                   // kTable
  std::string alias;                 // kTable, kDerived
  std::unique_ptr<Query> derived;    // kDerived
  JoinType join = JoinType::kInner;  // kJoin
  std::unique_ptr<TableSource> left, right;
  ExprPtr on;
};

struct SelectCore {
  size_t offset = 0;
  bool distinct = false;
  ExprPtr top;  // TOP n / TOP (n)
  std::vector<SelectItem> items;
  std::unique_ptr<TableSource> from;
  ExprPtr where;
  std::vector<ExprPtr> group_by;
  ExprPtr having;
};

enum class SetOp { kUnion, kUnionAll, kExcept, kIntersect };

struct OrderItem {
  ExprPtr expr;
  bool descending = false;
};

struct Query {
  size_t offset = 0;
  std::vector<SelectCore> cores;
  std::vector<SetOp> ops;  // between cores[i] and cores[i + 1]
  std::vector<OrderItem> order_by;
};

enum class StmtKind { kSelect, kInsert, kUpdate, kDelete, kIf, kBlock, kDeclare, kSet };

struct ColumnAssignment {
  std::string name;       // column (UPDATE) or @variable (SET, upper case)
  std::string qualifier;  // UPDATE: "B" of SET B.col = ..., empty when not written
  size_t offset = 0;
  ExprPtr value;
};

struct Declaration {
  std::string name;  // @name, upper case
  SqlType type;
  ExprPtr init;
  size_t offset = 0;
};

struct Stmt {
  StmtKind kind = StmtKind::kSelect;
  size_t offset = 0;
  std::unique_ptr<Query> query;               // kSelect; kInsert from a query
  ObjectName target;                          // kInsert, kUpdate, kDelete
  std::vector<std::string> columns;           // kInsert column list
  std::vector<std::vector<ExprPtr>> values;   // kInsert VALUES rows
  std::vector<ColumnAssignment> assignments;  // kUpdate SET list; kSet (one)
  std::unique_ptr<TableSource> from;          // kUpdate FROM
  ExprPtr where;                              // kUpdate, kDelete
  ExprPtr condition;                          // kIf
  std::vector<std::unique_ptr<Stmt>> body;    // kBlock; kIf: then [, else]
  std::vector<Declaration> declarations;      // kDeclare
};

using StmtPtr = std::unique_ptr<Stmt>;

}  // namespace tsql

#endif  // RETALO_DB_TSQL_AST_H_
