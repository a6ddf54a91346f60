// Expressions of the translation: each T-SQL expression becomes SQLite text plus its static SQL
// Server type, which decides what the operators mean and which conversions are emitted.
#include <algorithm>
#include <cstdlib>

#include "retalo/db/tsql/datetime.h"
#include "retalo/db/tsql/functions.h"
#include "retalo/db/tsql/lexer.h"
#include "retalo/db/tsql/translator.h"
#include "retalo/db/tsql/value.h"

namespace tsql {
namespace {

using Emitted = Translator::Emitted;

Emitted Atomic(std::string sql, SqlType type) { return Emitted{std::move(sql), type, true}; }

std::string Paren(const Emitted& value) { return value.atomic ? value.sql : "(" + value.sql + ")"; }

std::string Collated(const Emitted& value) { return Paren(value) + " COLLATE " + kCollation; }

bool IsTextOrNull(TypeKind kind) { return IsString(kind) || kind == TypeKind::kNull; }

std::string StringLiteral(std::string_view value) {
  std::string literal = "'";
  for (char c : value) {
    literal += c;
    if (c == '\'') literal += '\'';
  }
  return literal + "'";
}

// True when SQL Server's conversion from `from` to `to` leaves the SQLite value as it is.
bool Unchanged(const SqlType& from, const SqlType& to) {
  if (from.kind == to.kind) {
    switch (from.kind) {
      case TypeKind::kDecimal:
        return from.scale == to.scale && from.precision - from.scale <= to.precision - to.scale;
      case TypeKind::kVarChar:
      case TypeKind::kNVarChar:
        return from.length <= to.length;
      case TypeKind::kChar:
      case TypeKind::kNChar:
        return from.length == to.length;
      default:
        return true;
    }
  }
  if (IsExactInteger(from.kind) && IsExactInteger(to.kind)) {
    return static_cast<int>(from.kind) <= static_cast<int>(to.kind) && to.kind != TypeKind::kBit;
  }
  // char/varchar into a wider varchar/nvarchar keeps the text.
  bool from_text = from.kind == TypeKind::kChar || from.kind == TypeKind::kVarChar;
  bool to_wide_text = to.kind == TypeKind::kVarChar || to.kind == TypeKind::kNVarChar;
  return from_text && to_wide_text && from.length <= to.length;
}

SqlType TextResult(const SqlType& type) {
  if (IsString(type.kind)) return type;
  return Type(TypeKind::kVarChar, SqlType::kMaxLength);
}

SqlType ConcatType(const SqlType& a, const SqlType& b) {
  bool national = a.kind == TypeKind::kNChar || a.kind == TypeKind::kNVarChar ||
                  b.kind == TypeKind::kNChar || b.kind == TypeKind::kNVarChar;
  int length = std::min(SqlType::kMaxLength, a.length + b.length);
  return Type(national ? TypeKind::kNVarChar : TypeKind::kVarChar, std::max(length, 1));
}

bool IsPredicate(const Expr& expr) {
  switch (expr.kind) {
    case ExprKind::kAnd:
    case ExprKind::kOr:
      return IsPredicate(*expr.args[0]) && IsPredicate(*expr.args[1]);
    case ExprKind::kNot:
      return IsPredicate(*expr.args[0]);
    case ExprKind::kCompare:
    case ExprKind::kIsNull:
    case ExprKind::kInList:
    case ExprKind::kInQuery:
    case ExprKind::kBetween:
    case ExprKind::kLike:
    case ExprKind::kExists:
      return true;
    default:
      return false;
  }
}

}  // namespace

// The type of a numeric literal: int when it fits, numeric for other whole numbers and numbers
// with a point, float with an exponent.
SqlType Translator::NumberLiteralType(const std::string& text) {
  if (text.find_first_of("eE") != std::string::npos) return Type(TypeKind::kFloat);
  size_t point = text.find('.');
  size_t digits =
      std::count_if(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  int precision = static_cast<int>(std::max<size_t>(digits, 1));
  if (point != std::string::npos) {
    int scale = static_cast<int>(text.size() - point - 1);
    if (precision > 38) return Type(TypeKind::kFloat);
    return Type(TypeKind::kDecimal, 0, std::max(precision, scale), scale);
  }
  if (digits <= 9 || (digits == 10 && std::strtoll(text.c_str(), nullptr, 10) <= 2147483647LL)) {
    return Type(TypeKind::kInt);
  }
  return precision > 38 ? Type(TypeKind::kFloat) : Type(TypeKind::kDecimal, 0, precision, 0);
}

SqlType Translator::StringLiteralType(const std::string& value, bool national) {
  SqlType type =
      national
          ? Type(TypeKind::kNVarChar, static_cast<int>(std::max<size_t>(1, CharCount(value))))
          : Type(TypeKind::kVarChar, static_cast<int>(std::max<size_t>(1, Cp949Length(value))));
  type.length = std::min(type.length, SqlType::kMaxLength);
  return type;
}

bool Translator::EmitCondition(const Expr& expr, const Scope& scope, Emitted* out) {
  if (!IsPredicate(expr)) return Fail("condition that is not a comparison", expr.offset);
  return Emit(expr, scope, out);
}

Translator::Emitted Translator::Convert(const Emitted& value, const SqlType& to, int style,
                                        int store_mode) {
  if (!IsKnown(to.kind)) return value;
  if (value.type.kind == TypeKind::kNull) return Emitted{value.sql, to, value.atomic};
  if (IsKnown(value.type.kind) && Unchanged(value.type, to)) {
    return Emitted{value.sql, to, value.atomic};
  }
  if (to.kind == TypeKind::kFloat && IsNumeric(value.type.kind)) {
    return Atomic("CAST(" + value.sql + " AS REAL)", to);
  }
  std::string sql = "tsql_convert(" + value.sql;
  for (int number : {static_cast<int>(to.kind), to.length, to.precision, to.scale, style,
                     static_cast<int>(value.type.kind), value.type.scale, store_mode}) {
    sql += ", " + std::to_string(number);
  }
  return Atomic(sql + ")", to);
}

std::string Translator::TextArg(const Emitted& value) {
  TypeKind kind = value.type.kind;
  if (IsTextOrNull(kind) || kind == TypeKind::kUnknown || IsExactInteger(kind)) return value.sql;
  return Convert(value, Type(TypeKind::kVarChar, SqlType::kMaxLength), 0, 0).sql;
}

bool Translator::Harmonize(std::vector<Emitted*> operands) {
  bool unknown = false;
  bool any_text = false;
  SqlType target = Type(TypeKind::kNull);
  for (const Emitted* operand : operands) {
    if (operand->type.kind == TypeKind::kUnknown) {
      unknown = true;
      continue;
    }
    any_text = any_text || IsString(operand->type.kind);
    target = HigherType(target, operand->type);
  }
  if (unknown || IsTextOrNull(target.kind)) return any_text;
  // A number or a datetime meets a text: the text is read as that type.
  for (Emitted* operand : operands) {
    TypeKind kind = operand->type.kind;
    if (IsString(kind) || (target.kind == TypeKind::kDateTime && IsNumeric(kind))) {
      *operand = Convert(*operand, target, 0, 0);
    }
  }
  return false;
}

bool Translator::Emit(const Expr& expr, const Scope& scope, Emitted* out) {
  switch (expr.kind) {
    case ExprKind::kNumber:
      *out = Atomic(Literal(expr, expr.text), NumberLiteralType(expr.text));
      return true;
    case ExprKind::kString:
      *out = Atomic(Literal(expr, StringLiteral(expr.text)),
                    StringLiteralType(expr.text, expr.national));
      return true;
    case ExprKind::kNull:
      *out = Atomic("NULL", Type(TypeKind::kNull));
      return true;
    case ExprKind::kColumn:
      return EmitColumn(expr, scope, out);
    case ExprKind::kVariable: {
      int index = VariableIndex(expr.text, expr.offset);
      if (index < 0) return false;
      *out = Atomic("?" + std::to_string(index + 1), variables_[static_cast<size_t>(index)].type);
      return true;
    }
    case ExprKind::kUnary: {
      Emitted operand;
      if (!Emit(*expr.args[0], scope, &operand)) return false;
      if (IsString(operand.type.kind) || operand.type.kind == TypeKind::kDateTime) {
        return Fail("unary " + expr.text + " on a " + TypeName(operand.type), expr.offset);
      }
      if (expr.text == "+") {
        *out = operand;
      } else if (expr.args[0]->kind == ExprKind::kNumber) {
        *out = Atomic("-" + operand.sql, operand.type);
      } else {
        *out = Atomic("(- " + Paren(operand) + ")", operand.type);
      }
      return true;
    }
    case ExprKind::kBinary: {
      // 1 + 2 - 3 * 4 nests to the left: the operators, innermost first, and the operands in the
      // order they are written.
      std::vector<const Expr*> operators;
      const Expr* first = &expr;
      for (; first->kind == ExprKind::kBinary; first = first->args[0].get()) {
        operators.push_back(first);
      }
      std::reverse(operators.begin(), operators.end());
      std::vector<Emitted> operands(operators.size() + 1);
      if (!Emit(*first, scope, &operands[0])) return false;
      for (size_t i = 0; i < operators.size(); ++i) {
        if (!Emit(*operators[i]->args[1], scope, &operands[i + 1])) return false;
      }
      return EmitArithmeticChain(operators, std::move(operands), out);
    }
    case ExprKind::kCompare:
      return EmitCompare(expr, scope, out);
    case ExprKind::kAnd:
    case ExprKind::kOr: {
      Emitted left;
      Emitted right;
      if (!Emit(*expr.args[0], scope, &left) || !Emit(*expr.args[1], scope, &right)) return false;
      *out = Atomic("(" + Paren(left) + " " + expr.text + " " + Paren(right) + ")",
                    Type(TypeKind::kInt));
      return true;
    }
    case ExprKind::kNot: {
      Emitted operand;
      if (!Emit(*expr.args[0], scope, &operand)) return false;
      *out = Atomic("(NOT " + Paren(operand) + ")", Type(TypeKind::kInt));
      return true;
    }
    case ExprKind::kIsNull: {
      Emitted operand;
      if (!Emit(*expr.args[0], scope, &operand)) return false;
      *out = Atomic("(" + Paren(operand) + (expr.negated ? " IS NOT NULL)" : " IS NULL)"),
                    Type(TypeKind::kInt));
      return true;
    }
    case ExprKind::kInList:
    case ExprKind::kInQuery:
    case ExprKind::kBetween:
      return EmitInOrBetween(expr, scope, out);
    case ExprKind::kLike: {
      std::vector<std::string> args;
      for (const ExprPtr& arg : expr.args) {
        Emitted value;
        if (!Emit(*arg, scope, &value)) return false;
        args.push_back(TextArg(value));
      }
      std::string call = "tsql_like(" + args[0] + ", " + args[1];
      if (args.size() == 3) call += ", " + args[2];
      call += ")";
      *out = Atomic(expr.negated ? "(NOT " + call + ")" : call, Type(TypeKind::kInt));
      return true;
    }
    case ExprKind::kExists: {
      QueryText query;
      if (!EmitQuery(*expr.query, &scope, &query)) return false;
      *out = Atomic("EXISTS (" + query.sql + ")", Type(TypeKind::kInt));
      return true;
    }
    case ExprKind::kSubquery: {
      QueryText query;
      if (!EmitQuery(*expr.query, &scope, &query)) return false;
      if (query.columns_known && query.columns.size() != 1) {
        return Fail("subquery value with more than one column", expr.offset);
      }
      *out =
          Atomic("(" + query.sql + ")", query.columns.empty() ? SqlType{} : query.columns[0].type);
      return true;
    }
    case ExprKind::kCase:
      return EmitCase(expr, scope, out);
    case ExprKind::kFunction:
      return EmitFunction(expr, scope, out);
    case ExprKind::kCast:
      return EmitCast(expr, scope, out);
    case ExprKind::kGetDate:
      // Local time, the same for every row of one statement.
      *out = Atomic("strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime')", Type(TypeKind::kDateTime));
      return true;
  }
  return Fail("expression", expr.offset);
}

bool Translator::EmitColumn(const Expr& expr, const Scope& scope, Emitted* out) {
  if (expr.parts.size() > 2) return Fail("column name with more than two parts", expr.offset);
  const std::string& column = expr.parts.back();
  std::string qualifier = expr.parts.size() == 2 ? expr.parts[0] : std::string();
  SqlType type;
  bool resolved = false;
  for (const Scope* level = &scope; level && !resolved; level = level->outer) {
    int found = 0;
    SqlType found_type;
    for (const Relation& relation : level->relations) {
      if (!qualifier.empty() && !SameName(relation.name, qualifier)) continue;
      for (const RelColumn& candidate : relation.columns) {
        if (SameName(candidate.name, column)) {
          ++found;
          found_type = candidate.type;
        }
      }
      if (!qualifier.empty()) {
        found = std::max(found, 1);  // the qualifier names this relation, whatever it holds
        break;
      }
    }
    if (found > 0) {
      resolved = true;
      if (found == 1) type = found_type;
    }
  }
  std::string sql = qualifier.empty() ? Quote(column) : Quote(qualifier) + "." + Quote(column);
  *out = Atomic(std::move(sql), type);
  return true;
}

namespace {

// Operands of one tsql_int_arith call, within SQLite's limit on a function's arguments.
constexpr size_t kMaxChainOperands = 100;

}  // namespace

// Runs of integer steps become one tsql_int_arith call each, which fails as SQL Server does
// when a result leaves int or bigint (SQLite would go over to a real) and does not nest a call
// per operator, which SQLite's parser could not take for a long chain; other steps are emitted
// one by one.
bool Translator::EmitArithmeticChain(const std::vector<const Expr*>& operators,
                                     std::vector<Emitted> operands, Emitted* out) {
  // A text beside an integer is read as one, as EmitArithmetic does it.
  auto as_integer = [](Emitted& text, const SqlType& integer) {
    if (IsString(text.type.kind) && IsExactInteger(integer.kind)) {
      text = Convert(text, integer, 0, 0);
    }
  };
  Emitted value = std::move(operands[0]);
  for (size_t i = 0; i < operators.size();) {
    as_integer(value, operands[i + 1].type);
    SqlType type = value.type;
    std::string steps;
    std::string values = value.sql;
    size_t end = i;
    for (; end < operators.size() && end - i + 1 < kMaxChainOperands && IsExactInteger(type.kind);
         ++end) {
      as_integer(operands[end + 1], type);
      if (!IsExactInteger(operands[end + 1].type.kind)) break;
      type = HigherType(type, operands[end + 1].type);
      steps += operators[end]->text;
      steps += type.kind == TypeKind::kBigInt ? 'b' : 'i';
      values += ", " + operands[end + 1].sql;
    }
    if (end > i) {
      value = Atomic("tsql_int_arith('" + steps + "', " + values + ")", type);
      i = end;
    } else if (!EmitArithmetic(*operators[i], std::move(value), std::move(operands[i + 1]),
                               &value)) {
      return false;
    } else {
      ++i;
    }
  }
  *out = std::move(value);
  return true;
}

bool Translator::EmitArithmetic(const Expr& expr, Emitted left, Emitted right, Emitted* out) {
  const std::string& op = expr.text;
  TypeKind a = left.type.kind;
  TypeKind b = right.type.kind;
  if (a == TypeKind::kUnknown || b == TypeKind::kUnknown) {
    // Decided at run time on the values' storage classes.
    *out = Atomic("tsql_arith('" + op + "', " + left.sql + ", " + right.sql + ")", SqlType{});
    return true;
  }
  if (IsTextOrNull(a) && IsTextOrNull(b)) {
    if (a == TypeKind::kNull && b == TypeKind::kNull) {
      *out = Atomic("NULL", Type(TypeKind::kNull));
      return true;
    }
    if (op != "+") return Fail("operator " + op + " on texts", expr.offset);
    std::string sql = "(";
    sql.append(Paren(left)).append(" || ").append(Paren(right)).append(")");
    *out = Atomic(std::move(sql), ConcatType(left.type, right.type));
    return true;
  }
  if (a == TypeKind::kDateTime || b == TypeKind::kDateTime) {
    return Fail("datetime arithmetic", expr.offset);
  }
  // Numbers; a text operand takes the type of the number it meets.
  SqlType type = HigherType(left.type, right.type);
  if (IsString(a)) left = Convert(left, right.type, 0, 0);
  if (IsString(b)) right = Convert(right, left.type, 0, 0);
  if (op == "/" || op == "%") {
    // Integer division for two integers; SQL Server's divide-by-zero error.
    bool integers = IsExactInteger(left.type.kind) && IsExactInteger(right.type.kind);
    std::string x = integers ? left.sql : "CAST(" + left.sql + " AS REAL)";
    std::string y = integers ? right.sql : "CAST(" + right.sql + " AS REAL)";
    *out = Atomic("tsql_arith('" + op + "', " + x + ", " + y + ")", type);
    return true;
  }
  *out = Atomic("(" + Paren(left) + " " + op + " " + Paren(right) + ")", type);
  return true;
}

bool Translator::EmitCompare(const Expr& expr, const Scope& scope, Emitted* out) {
  Emitted left;
  Emitted right;
  if (!Emit(*expr.args[0], scope, &left) || !Emit(*expr.args[1], scope, &right)) return false;
  bool text = Harmonize({&left, &right});
  std::string lhs = text ? Collated(left) : Paren(left);
  *out = Atomic("(" + lhs + " " + expr.text + " " + Paren(right) + ")", Type(TypeKind::kInt));
  return true;
}

bool Translator::EmitInOrBetween(const Expr& expr, const Scope& scope, Emitted* out) {
  std::vector<Emitted> operands(expr.args.size());
  for (size_t i = 0; i < expr.args.size(); ++i) {
    if (!Emit(*expr.args[i], scope, &operands[i])) return false;
  }
  QueryText query;
  Emitted query_column;
  std::vector<Emitted*> pointers;
  for (Emitted& operand : operands) pointers.push_back(&operand);
  if (expr.kind == ExprKind::kInQuery) {
    if (!EmitQuery(*expr.query, &scope, &query)) return false;
    if (query.columns_known && query.columns.size() != 1) {
      return Fail("IN subquery with more than one column", expr.offset);
    }
    if (!query.columns.empty()) query_column.type = query.columns[0].type;
    pointers.push_back(&query_column);
  }
  bool text = Harmonize(pointers);
  std::string lhs = text ? Collated(operands[0]) : Paren(operands[0]);
  std::string not_word = expr.negated ? " NOT" : "";
  if (expr.kind == ExprKind::kBetween) {
    *out = Atomic("(" + lhs + not_word + " BETWEEN " + Paren(operands[1]) + " AND " +
                      Paren(operands[2]) + ")",
                  Type(TypeKind::kInt));
    return true;
  }
  std::string list;
  if (expr.kind == ExprKind::kInQuery) {
    list = query.sql;
  } else {
    for (size_t i = 1; i < operands.size(); ++i) list += (i > 1 ? ", " : "") + operands[i].sql;
  }
  *out = Atomic("(" + lhs + not_word + " IN (" + list + "))", Type(TypeKind::kInt));
  return true;
}

bool Translator::EmitCase(const Expr& expr, const Scope& scope, Emitted* out) {
  std::vector<Emitted> args(expr.args.size());
  size_t first = expr.has_operand ? 1 : 0;
  size_t end = args.size() - (expr.has_else ? 1 : 0);
  for (size_t i = 0; i < expr.args.size(); ++i) {
    bool condition = !expr.has_operand && i < end && (i - first) % 2 == 0;
    if (!(condition ? EmitCondition(*expr.args[i], scope, &args[i])
                    : Emit(*expr.args[i], scope, &args[i]))) {
      return false;
    }
  }
  std::vector<Emitted*> results;
  for (size_t i = first + 1; i < end; i += 2) results.push_back(&args[i]);
  if (expr.has_else) results.push_back(&args.back());
  SqlType type = Type(TypeKind::kNull);
  for (const Emitted* result : results) type = HigherType(type, result->type);
  // Results of another kind than the CASE's type are converted to it, as SQL Server does.
  if (IsKnown(type.kind)) {
    for (Emitted* result : results) {
      if (IsKnown(result->type.kind) && IsString(result->type.kind) != IsString(type.kind)) {
        *result = Convert(*result, type, 0, 0);
      }
    }
  }
  std::string sql = "CASE ";
  if (expr.has_operand) {
    std::vector<Emitted*> compared{&args[0]};
    for (size_t i = first; i < end; i += 2) compared.push_back(&args[i]);
    bool text = Harmonize(compared);
    sql += (text ? Collated(args[0]) : Paren(args[0])) + " ";
  }
  for (size_t i = first; i < end; i += 2) {
    sql += "WHEN " + args[i].sql + " THEN " + args[i + 1].sql + " ";
  }
  if (expr.has_else) sql += "ELSE " + args.back().sql + " ";
  *out = Atomic(sql + "END", type);
  return true;
}

bool Translator::EmitCast(const Expr& expr, const Scope& scope, Emitted* out) {
  Emitted value;
  if (!Emit(*expr.args[0], scope, &value)) return false;
  int style = 0;
  if (expr.args.size() == 2) {
    const Expr& style_expr = *expr.args[1];
    if (style_expr.kind != ExprKind::kNumber ||
        style_expr.text.find_first_not_of("0123456789") != std::string::npos ||
        style_expr.text.size() > 3) {
      return Fail("CONVERT style that is not a constant number", style_expr.offset);
    }
    style = std::atoi(style_expr.text.c_str());
    if (!IsDateStyle(style) && style > 3) {
      return Fail("CONVERT style " + style_expr.text, style_expr.offset);
    }
  }
  *out = Convert(value, expr.cast_type, style, 0);
  return true;
}

bool Translator::EmitArgs(const Expr& expr, const Scope& scope, size_t min, size_t max,
                          std::vector<Emitted>* args) {
  if (expr.args.size() < min || expr.args.size() > max || expr.star) {
    return Fail(expr.text + " with " + std::to_string(expr.args.size()) + " arguments",
                expr.offset);
  }
  args->resize(expr.args.size());
  for (size_t i = 0; i < expr.args.size(); ++i) {
    if (!Emit(*expr.args[i], scope, &(*args)[i])) return false;
  }
  return true;
}

bool Translator::EmitAggregate(const Expr& expr, const Scope& scope, Emitted* out) {
  const std::string& name = expr.text;
  if (name == "COUNT" && expr.star) {
    *out = Atomic("count(*)", Type(TypeKind::kInt));
    return true;
  }
  std::vector<Emitted> args;
  if (!EmitArgs(expr, scope, 1, 1, &args)) return false;
  const Emitted& arg = args[0];
  std::string distinct = expr.distinct ? "DISTINCT " : "";
  if (name == "COUNT") {
    *out = Atomic("count(" + distinct + arg.sql + ")", Type(TypeKind::kInt));
    return true;
  }
  if (name == "MAX" || name == "MIN") {
    // Texts compare as the database's collation does.
    std::string value = IsString(arg.type.kind) ? Collated(arg) : arg.sql;
    *out = Atomic((name == "MAX" ? "max(" : "min(") + distinct + value + ")", arg.type);
    return true;
  }
  if (IsString(arg.type.kind) || arg.type.kind == TypeKind::kDateTime) {
    return Fail(name + " of a " + TypeName(arg.type), expr.offset);
  }
  if (name == "SUM") {
    SqlType type = arg.type;
    if (type.kind == TypeKind::kBit) return Fail("SUM of a bit", expr.offset);
    if (type.kind == TypeKind::kDecimal) type.precision = 38;
    *out = Atomic("sum(" + distinct + arg.sql + ")", type);
    return true;
  }
  // AVG of integers is an integer, the fraction cut.
  std::string sql = "avg(" + distinct + arg.sql + ")";
  if (IsExactInteger(arg.type.kind)) sql = "CAST(" + sql + " AS INTEGER)";
  *out = Atomic(sql, arg.type);
  return true;
}

bool Translator::EmitFunction(const Expr& expr, const Scope& scope, Emitted* out) {
  const std::string& name = expr.text;
  if (name == "COUNT" || name == "SUM" || name == "MAX" || name == "MIN" || name == "AVG") {
    return EmitAggregate(expr, scope, out);
  }
  if (expr.distinct) return Fail("DISTINCT in " + name, expr.offset);
  std::vector<Emitted> args;
  auto int_arg = [](const Emitted& value) {
    return IsString(value.type.kind) ? Convert(value, Type(TypeKind::kInt), 0, 0).sql : value.sql;
  };
  auto call = [](const std::string& function, const std::vector<std::string>& values) {
    std::string sql = function + "(";
    for (size_t i = 0; i < values.size(); ++i) sql += (i > 0 ? ", " : "") + values[i];
    return sql + ")";
  };
  if (name == "ISNULL" || name == "COALESCE" || name == "NULLIF") {
    size_t max = name == "COALESCE" ? 64 : 2;
    if (!EmitArgs(expr, scope, 2, max, &args)) return false;
    SqlType type = args[0].type;
    if (name == "COALESCE") {
      for (const Emitted& arg : args) type = HigherType(type, arg.type);
    } else if (name == "NULLIF") {
      std::vector<Emitted*> compared{&args[0], &args[1]};
      Harmonize(compared);
    } else if (type.kind == TypeKind::kNull) {
      type = args[1].type;
    }
    std::vector<std::string> values;
    for (Emitted& arg : args) {
      // ISNULL takes the first argument's type, COALESCE the highest.
      if (name != "NULLIF" && IsKnown(type.kind) && IsKnown(arg.type.kind) &&
          IsString(arg.type.kind) != IsString(type.kind)) {
        arg = Convert(arg, type, 0, 0);
      }
      values.push_back(arg.sql);
    }
    *out = Atomic(call(name == "NULLIF" ? "nullif" : "coalesce", values), type);
    return true;
  }
  if (name == "LEN") {
    if (!EmitArgs(expr, scope, 1, 1, &args)) return false;
    *out = Atomic(call("tsql_len", {TextArg(args[0])}), Type(TypeKind::kInt));
    return true;
  }
  if (name == "LEFT" || name == "RIGHT") {
    if (!EmitArgs(expr, scope, 2, 2, &args)) return false;
    *out = Atomic(
        call(name == "LEFT" ? "tsql_left" : "tsql_right", {TextArg(args[0]), int_arg(args[1])}),
        TextResult(args[0].type));
    return true;
  }
  if (name == "SUBSTRING") {
    if (!EmitArgs(expr, scope, 3, 3, &args)) return false;
    *out = Atomic(call("tsql_substring", {TextArg(args[0]), int_arg(args[1]), int_arg(args[2])}),
                  TextResult(args[0].type));
    return true;
  }
  if (name == "CHARINDEX") {
    if (!EmitArgs(expr, scope, 2, 3, &args)) return false;
    std::vector<std::string> values{TextArg(args[0]), TextArg(args[1])};
    if (args.size() == 3) values.push_back(int_arg(args[2]));
    *out = Atomic(call("tsql_charindex", values), Type(TypeKind::kInt));
    return true;
  }
  if (name == "STUFF") {
    if (!EmitArgs(expr, scope, 4, 4, &args)) return false;
    SqlType type = TextResult(args[0].type);
    type.length = SqlType::kMaxLength;
    *out = Atomic(call("tsql_stuff",
                       {TextArg(args[0]), int_arg(args[1]), int_arg(args[2]), TextArg(args[3])}),
                  type);
    return true;
  }
  if (name == "STR") {
    if (!EmitArgs(expr, scope, 1, 3, &args)) return false;
    // The number argument is a float: a text is read as one.
    std::vector<std::string> values{Convert(args[0], Type(TypeKind::kFloat), 0, 0).sql};
    for (size_t i = 1; i < args.size(); ++i) values.push_back(int_arg(args[i]));
    int length = 10;
    if (args.size() >= 2) {
      Pin(*expr.args[1]);
      length = expr.args[1]->kind == ExprKind::kNumber ? std::atoi(expr.args[1]->text.c_str()) : 0;
      if (length < 1 || length > SqlType::kMaxLength) length = SqlType::kMaxLength;
    }
    *out = Atomic(call("tsql_str", values), Type(TypeKind::kChar, length));
    return true;
  }
  if (name == "LTRIM" || name == "RTRIM" || name == "UPPER" || name == "LOWER") {
    if (!EmitArgs(expr, scope, 1, 1, &args)) return false;
    std::string function = name == "LTRIM"   ? "ltrim"
                           : name == "RTRIM" ? "rtrim"
                           : name == "UPPER" ? "upper"
                                             : "lower";
    std::vector<std::string> values{TextArg(args[0])};
    if (name == "LTRIM" || name == "RTRIM") values.push_back("' '");  // blanks only
    SqlType type = TextResult(args[0].type);
    if (type.kind == TypeKind::kChar) type.kind = TypeKind::kVarChar;
    if (type.kind == TypeKind::kNChar) type.kind = TypeKind::kNVarChar;
    *out = Atomic(call(function, values), type);
    return true;
  }
  if (name == "REPLACE") {
    if (!EmitArgs(expr, scope, 3, 3, &args)) return false;
    SqlType type = TextResult(args[0].type);
    type.kind = type.kind == TypeKind::kNChar || type.kind == TypeKind::kNVarChar
                    ? TypeKind::kNVarChar
                    : TypeKind::kVarChar;
    type.length = SqlType::kMaxLength;
    *out =
        Atomic(call("tsql_replace", {TextArg(args[0]), TextArg(args[1]), TextArg(args[2])}), type);
    return true;
  }
  return Fail("function " + name, expr.offset);
}

}  // namespace tsql
