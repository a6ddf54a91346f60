#include "retalo/db/tsql/translator.h"

#include <algorithm>
#include <cctype>

#include "retalo/db/tsql/lexer.h"

namespace tsql {
namespace {

const char* JoinText(JoinType type) {
  switch (type) {
    case JoinType::kInner:
      return " JOIN ";
    case JoinType::kLeft:
      return " LEFT JOIN ";
    case JoinType::kCross:
      return " CROSS JOIN ";
    default:
      return ", ";
  }
}

const char* SetOpText(SetOp op) {
  switch (op) {
    case SetOp::kUnion:
      return " UNION ";
    case SetOp::kUnionAll:
      return " UNION ALL ";
    case SetOp::kExcept:
      return " EXCEPT ";
    default:
      return " INTERSECT ";
  }
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string joined;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) joined += separator;
    joined += parts[i];
  }
  return joined;
}

// The name SQL Server gives a result column: the alias, a column's own name as written, or none.
std::string ItemName(const SelectItem& item) {
  if (!item.alias.empty()) return item.alias;
  if (item.expr && item.expr->kind == ExprKind::kColumn) return item.expr->parts.back();
  return std::string();
}

bool SameParts(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (!SameName(a[i], b[i])) return false;
  }
  return true;
}

// Position (from 1) of the result column an ORDER BY term names: by alias or name, or as the
// same column reference as the item; 0 when none.
size_t OrderPosition(const Expr& term, const SelectCore& core,
                     const std::vector<RelColumn>& columns) {
  if (term.kind != ExprKind::kColumn) return 0;
  size_t position = 0;
  for (const SelectItem& item : core.items) {
    if (item.kind == SelectItem::Kind::kStar) return 0;  // positions after a * are not fixed
    ++position;
    if (item.expr->kind == ExprKind::kColumn && SameParts(item.expr->parts, term.parts)) {
      return position;
    }
  }
  if (term.parts.size() != 1) return 0;
  for (size_t i = 0; i < columns.size(); ++i) {
    if (SameName(columns[i].name, term.parts[0])) return i + 1;
  }
  return 0;
}

// True when `expr` may read a column of the relation called `name` (named with that qualifier, or
// unqualified and a column of `table`).
bool ReferencesRelation(const Expr& expr, const std::string& name, const TableInfo* table) {
  if (expr.query) return true;  // a subquery: not looked into, counted as a reference
  if (expr.kind == ExprKind::kColumn) {
    if (expr.parts.size() >= 2) return SameName(expr.parts[expr.parts.size() - 2], name);
    if (!table) return true;
    for (const ColumnInfo& column : table->columns) {
      if (SameName(column.name, expr.parts[0])) return true;
    }
    return false;
  }
  for (const ExprPtr& arg : expr.args) {
    if (ReferencesRelation(*arg, name, table)) return true;
  }
  return false;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// How a number literal is bound so that SQLite reads the value it reads from the written text:
// a whole number that fits 64 bits as that integer, a number with a point or an exponent as its
// text converted by SQLite; nullopt for any other form, which stays written.
std::optional<LiteralSlot::Form> NumberForm(const std::string& text) {
  size_t i = 0;
  size_t mantissa = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++mantissa;
  const size_t whole_digits = i;
  bool real = false;
  if (i < text.size() && text[i] == '.') {
    real = true;
    for (++i; i < text.size() && IsDigit(text[i]); ++i) ++mantissa;
  }
  if (mantissa == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    real = true;
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exponent = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) ++exponent;
    if (exponent == 0) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  if (real) return LiteralSlot::Form::kReal;
  // SQLite reads a longer whole number as a real; -9223372036854775808 is written, too.
  std::string_view digits(text.data(), whole_digits);
  digits.remove_prefix(std::min(digits.find_first_not_of('0'), digits.size()));
  constexpr std::string_view kLargest = "9223372036854775807";
  if (digits.size() < kLargest.size() || (digits.size() == kLargest.size() && digits <= kLargest)) {
    return LiteralSlot::Form::kInteger;
  }
  return std::nullopt;
}

bool IsLiteral(const Expr& expr) {
  return expr.kind == ExprKind::kNumber || expr.kind == ExprKind::kString;
}

}  // namespace

// ---- literals -----------------------------------------------------------------------------

std::string Translator::Literal(const Expr& expr, std::string written) {
  if (!parametrize_ || expr.token == kNoToken ||
      std::find(pinned_.begin(), pinned_.end(), expr.token) != pinned_.end()) {
    return written;
  }
  LiteralSlot slot;
  slot.token = expr.token;
  if (expr.kind == ExprKind::kNumber) {
    std::optional<LiteralSlot::Form> form = NumberForm(expr.text);
    if (!form) return written;
    slot.form = *form;
  }
  slot.variable = static_cast<int>(variables_.size());
  variables_.push_back(Variable{});
  literal_slots_.push_back(slot);
  std::string parameter = "?" + std::to_string(slot.variable + 1);
  // The unary plus keeps the value without the REAL affinity of a CAST, as a written number.
  return slot.form == LiteralSlot::Form::kReal ? "(+CAST(" + parameter + " AS REAL))" : parameter;
}

void Translator::Pin(const Expr& expr) {
  if (expr.token != kNoToken) pinned_.push_back(expr.token);
}

// ---- catalogue ----------------------------------------------------------------------------

const TableInfo* Catalog::Find(const ObjectName& name) {
  std::string key = UpperName(name.database) + "." + UpperName(name.table);
  auto found = tables_.find(key);
  if (found != tables_.end()) return found->second ? &*found->second : nullptr;
  std::string pragma = "PRAGMA ";
  if (!name.database.empty()) pragma += Translator::Quote(name.database) + ".";
  pragma += "table_info(" + Translator::Quote(name.table) + ")";
  std::optional<TableInfo> info;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, pragma.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
    TableInfo table;
    int keys = 0;
    int key_index = -1;
    bool key_is_integer = false;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      auto text = [&](int column) {
        const unsigned char* value = sqlite3_column_text(stmt, column);
        return value ? std::string(reinterpret_cast<const char*>(value)) : std::string();
      };
      std::string declared = text(2);
      if (sqlite3_column_int(stmt, 5) > 0) {
        ++keys;
        key_index = static_cast<int>(table.columns.size());
        key_is_integer = SameName(declared, "INTEGER");
      }
      table.columns.push_back(ColumnInfo{text(1), ParseTypeName(declared, 1)});
    }
    if (keys == 1 && key_is_integer) table.identity = key_index;
    if (!table.columns.empty()) info = std::move(table);
  }
  sqlite3_finalize(stmt);
  auto inserted = tables_.emplace(key, std::move(info)).first;
  return inserted->second ? &*inserted->second : nullptr;
}

// ---- names --------------------------------------------------------------------------------

std::string Translator::Quote(std::string_view name) {
  bool plain =
      !name.empty() && (std::isalpha(static_cast<unsigned char>(name[0])) != 0 || name[0] == '_');
  for (char c : name) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '_') plain = false;
  }
  if (plain && sqlite3_keyword_check(name.data(), static_cast<int>(name.size())) == 0) {
    return std::string(name);
  }
  // Backquotes, unlike double quotes, never turn an unknown name into a string literal.
  std::string quoted = "`";
  for (char c : name) {
    quoted += c;
    if (c == '`') quoted += c;
  }
  return quoted + "`";
}

std::string Translator::TableSql(const ObjectName& name) const {
  if (name.database.empty()) return Quote(name.table);
  return Quote(name.database) + "." + Quote(name.table);
}

Translator::Relation Translator::TableRelation(const ObjectName& name, const std::string& alias) {
  Relation relation;
  relation.name = alias.empty() ? name.table : alias;
  if (const TableInfo* table = catalog_.Find(name)) {
    relation.known = true;
    for (const ColumnInfo& column : table->columns) {
      relation.columns.push_back(RelColumn{column.name, column.type});
    }
  }
  return relation;
}

bool Translator::Fail(const std::string& construct, size_t offset) {
  if (error_.empty()) error_ = UnsupportedMessage(construct, source_, offset);
  return false;
}

bool Translator::Declare(const Declaration& declaration) {
  for (const Variable& variable : variables_) {
    if (variable.name == declaration.name) {
      return Fail("second declaration of " + declaration.name, declaration.offset);
    }
  }
  variables_.push_back(Variable{declaration.name, declaration.type});
  return true;
}

int Translator::VariableIndex(const std::string& name, size_t offset) {
  for (size_t i = 0; i < variables_.size(); ++i) {
    if (variables_[i].name == name) return static_cast<int>(i);
  }
  Fail("undeclared variable " + name, offset);
  return -1;
}

// ---- queries ------------------------------------------------------------------------------

bool Translator::Select(const Query& query, QueryText* out) {
  return EmitQuery(query, nullptr, out);
}

bool Translator::EmitTop(const Expr& top, std::string* sql) {
  if (top.kind == ExprKind::kNumber) {
    if (top.text.find_first_not_of("0123456789") != std::string::npos) {
      return Fail("TOP with a number that is not a whole number", top.offset);
    }
    *sql = top.text;
    return true;
  }
  Emitted value;
  if (!Emit(top, Scope{}, &value)) return false;
  if (IsString(value.type.kind) || value.type.kind == TypeKind::kDateTime) {
    return Fail("TOP with a value that is not a number", top.offset);
  }
  *sql = "(" + value.sql + ")";
  return true;
}

bool Translator::EmitQuery(const Query& query, const Scope* outer, QueryText* out) {
  *out = QueryText{};
  if (query.cores.size() == 1) {
    const SelectCore& core = query.cores.front();
    Scope scope;
    if (!EmitCore(core, outer, out, &scope)) return false;
    std::vector<std::string> order;
    for (const OrderItem& item : query.order_by) {
      size_t position = item.expr->kind == ExprKind::kColumn && item.expr->parts.size() == 1
                            ? OrderPosition(*item.expr, core, out->columns)
                            : 0;
      Emitted term;
      // A number written there is a column position, in SQLite as in SQL Server.
      if (IsLiteral(*item.expr)) Pin(*item.expr);
      if (position > 0) {
        term.sql = std::to_string(position);
      } else if (!Emit(*item.expr, scope, &term)) {
        return false;
      }
      order.push_back(term.sql + (item.descending ? " DESC" : ""));
    }
    if (!order.empty()) out->sql += " ORDER BY " + Join(order, ", ");
    if (core.top) {
      std::string limit;
      if (!EmitTop(*core.top, &limit)) return false;
      out->sql += " LIMIT " + limit;
    }
    return true;
  }
  for (size_t i = 0; i < query.cores.size(); ++i) {
    const SelectCore& core = query.cores[i];
    QueryText part;
    Scope scope;
    if (!EmitCore(core, outer, &part, &scope)) return false;
    if (core.top) {
      // TOP belongs to its own SELECT; SQLite's LIMIT would apply to the whole compound.
      std::string limit;
      if (!EmitTop(*core.top, &limit)) return false;
      part.sql = "SELECT * FROM (" + part.sql + " LIMIT " + limit + ")";
    }
    if (i == 0) {
      *out = std::move(part);
      continue;
    }
    if (out->columns_known && part.columns_known) {
      if (part.columns.size() != out->columns.size()) {
        return Fail("set operation of queries with different numbers of columns", core.offset);
      }
      for (size_t c = 0; c < part.columns.size(); ++c) {
        out->columns[c].type = HigherType(out->columns[c].type, part.columns[c].type);
      }
    }
    out->sql += SetOpText(query.ops[i - 1]) + part.sql;
  }
  return EmitCompoundOrder(query, &out->sql);
}

bool Translator::EmitCompoundOrder(const Query& query, std::string* sql) {
  if (query.order_by.empty()) return true;
  // The ORDER BY of a UNION names result columns; SQLite wants them as positions or names of
  // the first SELECT, so every term becomes the position of its column.
  std::vector<RelColumn> first_columns;
  for (const SelectItem& item : query.cores.front().items) {
    first_columns.push_back(RelColumn{ItemName(item), SqlType{}});
  }
  std::vector<std::string> order;
  for (const OrderItem& item : query.order_by) {
    std::string term;
    if (item.expr->kind == ExprKind::kNumber) {
      term = item.expr->text;
    } else {
      size_t position = OrderPosition(*item.expr, query.cores.front(), first_columns);
      if (position == 0) {
        return Fail("ORDER BY term that is not in the select list of a UNION", item.expr->offset);
      }
      term = std::to_string(position);
    }
    order.push_back(term + (item.descending ? " DESC" : ""));
  }
  *sql += " ORDER BY " + Join(order, ", ");
  return true;
}

bool Translator::EmitCore(const SelectCore& core, const Scope* outer, QueryText* out,
                          Scope* scope) {
  scope->outer = outer;
  std::string from_sql;
  if (core.from && !EmitFrom(*core.from, scope, &from_sql)) return false;
  std::vector<std::string> items;
  for (const SelectItem& item : core.items) {
    if (item.kind == SelectItem::Kind::kStar) {
      bool matched = false;
      for (const Relation& relation : scope->relations) {
        if (!item.star_qualifier.empty() && !SameName(relation.name, item.star_qualifier.back())) {
          continue;
        }
        matched = true;
        if (!relation.known) out->columns_known = false;
        out->columns.insert(out->columns.end(), relation.columns.begin(), relation.columns.end());
      }
      if (!matched) out->columns_known = false;
      items.push_back(item.star_qualifier.empty() ? std::string("*")
                                                  : Quote(item.star_qualifier.back()) + ".*");
      continue;
    }
    Emitted value;
    if (!Emit(*item.expr, *scope, &value)) return false;
    std::string name = item.kind == SelectItem::Kind::kAssign ? std::string() : ItemName(item);
    out->columns.push_back(RelColumn{name, value.type});
    items.push_back(item.alias.empty() ? value.sql : value.sql + " AS " + Quote(item.alias));
  }
  std::string& sql = out->sql;
  sql = core.distinct ? "SELECT DISTINCT " : "SELECT ";
  sql += Join(items, ", ");
  if (!from_sql.empty()) sql += " FROM " + from_sql;
  if (core.where) {
    Emitted where;
    if (!EmitCondition(*core.where, *scope, &where)) return false;
    sql += " WHERE " + where.sql;
  }
  if (!core.group_by.empty()) {
    std::vector<std::string> groups;
    for (const ExprPtr& expr : core.group_by) {
      Emitted group;
      if (IsLiteral(*expr)) Pin(*expr);  // SQLite would read a number there as a position
      if (!Emit(*expr, *scope, &group)) return false;
      groups.push_back(group.sql);
    }
    sql += " GROUP BY " + Join(groups, ", ");
  }
  if (core.having) {
    Emitted having;
    if (!EmitCondition(*core.having, *scope, &having)) return false;
    sql += " HAVING " + having.sql;
  }
  return true;
}

bool Translator::EmitFrom(const TableSource& source, Scope* scope, std::string* sql) {
  switch (source.kind) {
    case TableSource::Kind::kTable:
      scope->relations.push_back(TableRelation(source.name, source.alias));
      *sql = TableSql(source.name);
      if (!source.alias.empty()) *sql += " AS " + Quote(source.alias);
      return true;
    case TableSource::Kind::kDerived: {
      QueryText derived;
      if (!EmitQuery(*source.derived, scope->outer, &derived)) return false;
      Relation relation;
      relation.name = source.alias;
      relation.columns = derived.columns;
      relation.known = derived.columns_known;
      scope->relations.push_back(std::move(relation));
      *sql = "(" + derived.sql + ") AS " + Quote(source.alias);
      return true;
    }
    case TableSource::Kind::kJoin: {
      std::string left;
      std::string right;
      if (!EmitFrom(*source.left, scope, &left) || !EmitFrom(*source.right, scope, &right)) {
        return false;
      }
      *sql = left + JoinText(source.join) + right;
      if (source.on) {
        Emitted on;
        if (!EmitCondition(*source.on, *scope, &on)) return false;
        *sql += " ON " + on.sql;
      }
      return true;
    }
  }
  return false;
}

// ---- data-changing statements -------------------------------------------------------------

bool Translator::Insert(const Stmt& stmt, std::string* sql) {
  const TableInfo* table = catalog_.Find(stmt.target);
  std::vector<std::string> names;
  std::vector<SqlType> types;
  if (stmt.columns.empty()) {
    // Without a column list every column but the IDENTITY one takes a value, in table order.
    if (table) {
      for (size_t i = 0; i < table->columns.size(); ++i) {
        if (static_cast<int>(i) == table->identity) continue;
        names.push_back(table->columns[i].name);
        types.push_back(table->columns[i].type);
      }
    }
  } else {
    for (const std::string& name : stmt.columns) {
      names.push_back(name);
      SqlType type;
      for (const ColumnInfo& column : table ? table->columns : std::vector<ColumnInfo>()) {
        if (SameName(column.name, name)) type = column.type;
      }
      types.push_back(type);
    }
  }
  std::vector<std::string> quoted;
  for (const std::string& name : names) quoted.push_back(Quote(name));
  *sql = "INSERT INTO " + TableSql(stmt.target);
  if (!names.empty()) *sql += " (" + Join(quoted, ", ") + ")";
  if (stmt.query) {
    QueryText query;
    if (!EmitQuery(*stmt.query, nullptr, &query)) return false;
    if (query.columns_known && !names.empty() && query.columns.size() != names.size()) {
      return Fail("INSERT whose column count differs from its values", stmt.offset);
    }
    // Values are converted to the columns' types as SQL Server stores them; that needs the
    // query's columns by name.
    std::vector<std::string> converted;
    bool needed = false;
    bool named = query.columns_known;
    for (size_t i = 0; named && i < query.columns.size() && i < types.size(); ++i) {
      const RelColumn& column = query.columns[i];
      for (size_t j = 0; j < i; ++j) named = named && !SameName(query.columns[j].name, column.name);
      named = named && !column.name.empty();
      Emitted value{Quote(column.name), column.type, true};
      Emitted stored = Convert(value, types[i], 0, 1);
      needed = needed || stored.sql != value.sql;
      converted.push_back(stored.sql);
    }
    if (needed && named) {
      *sql += " SELECT " + Join(converted, ", ") + " FROM (" + query.sql + ")";
    } else {
      *sql += " " + query.sql;
    }
    return true;
  }
  std::vector<std::string> rows;
  for (const std::vector<ExprPtr>& row : stmt.values) {
    if (!names.empty() && row.size() != names.size()) {
      return Fail("INSERT whose column count differs from its values", stmt.offset);
    }
    std::vector<std::string> values;
    for (size_t i = 0; i < row.size(); ++i) {
      Emitted value;
      if (!Emit(*row[i], Scope{}, &value)) return false;
      values.push_back(i < types.size() ? Convert(value, types[i], 0, 1).sql : value.sql);
    }
    rows.push_back("(" + Join(values, ", ") + ")");
  }
  *sql += " VALUES " + Join(rows, ", ");
  return true;
}

// UPDATE t SET ... FROM ...: when the FROM names the updated table (by its alias, or as the only
// reference to that table) SQL Server updates the rows of that reference. SQLite's UPDATE FROM
// must not list the target again, so the reference is taken out of the FROM and becomes the
// target (keeping its alias); the ON conditions of inner joins move to the WHERE, which is the
// same for inner joins and lets them name the target.
bool Translator::EmitUpdateFrom(const Stmt& stmt, Scope* scope, std::string* target_sql,
                                std::string* from_sql, std::vector<const Expr*>* conditions) {
  struct Item {
    const TableSource* source;
    JoinType join;
    const Expr* on;
  };
  std::vector<Item> items;
  std::vector<Item> reversed;
  const TableSource* node = stmt.from.get();
  while (node->kind == TableSource::Kind::kJoin) {
    if (node->right->kind == TableSource::Kind::kJoin) {
      return Fail("nested join in UPDATE ... FROM", node->right->offset);
    }
    reversed.push_back(Item{node->right.get(), node->join, node->on.get()});
    node = node->left.get();
  }
  items.push_back(Item{node, JoinType::kComma, nullptr});
  items.insert(items.end(), reversed.rbegin(), reversed.rend());

  int target = -1;
  int matches = 0;
  for (int pass = 0; pass < 2 && matches == 0; ++pass) {
    for (size_t i = 0; i < items.size(); ++i) {
      const TableSource& source = *items[i].source;
      bool match = pass == 0 ? stmt.target.database.empty() && !source.alias.empty() &&
                                   SameName(source.alias, stmt.target.table)
                             : source.kind == TableSource::Kind::kTable &&
                                   SameName(source.name.table, stmt.target.table) &&
                                   (stmt.target.database.empty() ||
                                    SameName(source.name.database, stmt.target.database));
      if (match) {
        target = static_cast<int>(i);
        ++matches;
      }
    }
  }
  if (matches > 1) return Fail("ambiguous updated table in UPDATE ... FROM", stmt.offset);
  if (target < 0) {
    // The updated table is not in the FROM: every row of it meets the FROM's rows.
    scope->relations.push_back(TableRelation(stmt.target, ""));
    *target_sql = TableSql(stmt.target);
    return EmitFrom(*stmt.from, scope, from_sql);
  }
  const Item& updated = items[static_cast<size_t>(target)];
  if (updated.source->kind != TableSource::Kind::kTable) {
    return Fail("UPDATE of a derived table", updated.source->offset);
  }
  if (updated.join == JoinType::kLeft ||
      (target == 0 && items.size() > 1 && items[1].join == JoinType::kLeft)) {
    return Fail("UPDATE ... FROM with the updated table in an outer join", stmt.offset);
  }
  const ObjectName& name = updated.source->name;
  const std::string& alias = updated.source->alias;
  scope->relations.push_back(TableRelation(name, alias));
  *target_sql = TableSql(name) + (alias.empty() ? "" : " AS " + Quote(alias));
  if (updated.on) conditions->push_back(updated.on);
  const TableInfo* target_table = catalog_.Find(name);
  const std::string& target_name = scope->relations.front().name;
  bool first = true;
  for (size_t i = 0; i < items.size(); ++i) {
    if (static_cast<int>(i) == target) continue;
    const Item& item = items[i];
    std::string item_sql;
    if (!EmitFrom(*item.source, scope, &item_sql)) return false;
    if (item.join == JoinType::kLeft && !first) {
      if (ReferencesRelation(*item.on, target_name, target_table)) {
        return Fail("outer join on the updated table in UPDATE ... FROM", item.on->offset);
      }
      Emitted on;
      if (!EmitCondition(*item.on, *scope, &on)) return false;
      *from_sql += " LEFT JOIN " + item_sql + " ON " + on.sql;
    } else {
      if (item.on) conditions->push_back(item.on);
      *from_sql += (first ? "" : ", ") + item_sql;
    }
    first = false;
  }
  return true;
}

bool Translator::Update(const Stmt& stmt, std::string* sql) {
  Scope scope;
  std::string target_sql;
  std::string from_sql;
  std::vector<const Expr*> conditions;
  if (stmt.from) {
    if (!EmitUpdateFrom(stmt, &scope, &target_sql, &from_sql, &conditions)) return false;
  } else {
    scope.relations.push_back(TableRelation(stmt.target, ""));
    target_sql = TableSql(stmt.target);
  }
  const Relation& target = scope.relations.front();
  std::vector<std::string> sets;
  for (const ColumnAssignment& assignment : stmt.assignments) {
    if (!assignment.qualifier.empty() && !SameName(assignment.qualifier, target.name)) {
      return Fail("SET of a column of another table", assignment.offset);
    }
    Emitted value;
    if (!Emit(*assignment.value, scope, &value)) return false;
    for (const RelColumn& column : target.columns) {
      if (SameName(column.name, assignment.name)) value = Convert(value, column.type, 0, 1);
    }
    sets.push_back(Quote(assignment.name) + " = " + value.sql);
  }
  if (stmt.where) conditions.push_back(stmt.where.get());
  std::vector<std::string> where;
  for (const Expr* condition : conditions) {
    Emitted emitted;
    if (!EmitCondition(*condition, scope, &emitted)) return false;
    where.push_back(emitted.sql);
  }
  *sql = "UPDATE " + target_sql + " SET " + Join(sets, ", ");
  if (!from_sql.empty()) *sql += " FROM " + from_sql;
  if (!where.empty()) *sql += " WHERE " + Join(where, " AND ");
  return true;
}

bool Translator::Delete(const Stmt& stmt, std::string* sql) {
  Scope scope;
  scope.relations.push_back(TableRelation(stmt.target, ""));
  *sql = "DELETE FROM " + TableSql(stmt.target);
  if (stmt.where) {
    Emitted where;
    if (!EmitCondition(*stmt.where, scope, &where)) return false;
    *sql += " WHERE " + where.sql;
  }
  return true;
}

bool Translator::Condition(const Expr& condition, std::string* sql) {
  Emitted emitted;
  if (!EmitCondition(condition, Scope{}, &emitted)) return false;
  *sql = "SELECT CASE WHEN " + emitted.sql + " THEN 1 ELSE 0 END";
  return true;
}

bool Translator::Scalar(const Expr& value, std::string* sql, SqlType* type) {
  Emitted emitted;
  if (!Emit(value, Scope{}, &emitted)) return false;
  *sql = "SELECT " + emitted.sql;
  *type = emitted.type;
  return true;
}

}  // namespace tsql
