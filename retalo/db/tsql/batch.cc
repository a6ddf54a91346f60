// A batch is parsed and translated whole into a small program of SQLite statements (with the IF
// branches and variable assignments between them), then run statement by statement.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <unordered_map>
#include <utility>

#include "retalo/db/tsql/functions.h"
#include "retalo/db/tsql/parser.h"
#include "retalo/db/tsql/translator.h"
#include "retalo/db/tsql/tsql.h"
#include "retalo/db/tsql/value.h"

namespace tsql {
namespace {

struct Step {
  enum class Kind { kQuery, kChange, kAssign, kIf, kBlock };
  Kind kind = Kind::kQuery;
  std::string sql;
  std::vector<std::string> columns;  // kQuery: result column names
  bool columns_known = false;
  std::vector<int> targets;      // kAssign: the variable each result column goes to
  std::vector<SqlType> sources;  // kAssign: static type of each result column
  std::vector<Step> then_steps;  // kIf, kBlock
  std::vector<Step> else_steps;  // kIf
};

struct Program {
  std::vector<Step> steps;
  std::vector<Variable> variables;      // the declared ones and the literal slots
  std::vector<LiteralSlot> literals;    // when the literals were parametrized
  std::vector<size_t> pinned_literals;  // their tokens whose values the translation read
  bool needs_interpretation = false;    // IF, DECLARE, SET or variables in use
  bool writes = false;                  // INSERT, UPDATE or DELETE in some branch
  int statements = 0;                   // SQLite statements, every branch counted
};

int CountSteps(const std::vector<Step>& steps) {
  int count = 0;
  for (const Step& step : steps) {
    if (step.kind != Step::Kind::kBlock) ++count;
    count += CountSteps(step.then_steps) + CountSteps(step.else_steps);
  }
  return count;
}

class Compiler {
 public:
  Compiler(sqlite3* db, std::string_view source, bool parametrize) : translator_(db, source) {
    if (parametrize) translator_.ParametrizeLiterals();
  }

  bool Run(const std::vector<StmtPtr>& statements, Program* program, std::string* error) {
    for (const StmtPtr& stmt : statements) {
      if (!Statement(*stmt, &program->steps)) {
        *error = translator_.error();
        return false;
      }
    }
    program->variables = translator_.variables();
    program->literals = translator_.literal_slots();
    program->pinned_literals = translator_.pinned_literals();
    program->needs_interpretation = needs_interpretation_ || !program->variables.empty();
    program->writes = writes_;
    program->statements = CountSteps(program->steps);
    return true;
  }

 private:
  bool Statement(const Stmt& stmt, std::vector<Step>* steps) {
    Step step;
    switch (stmt.kind) {
      case StmtKind::kSelect:
        return Select(stmt, steps);
      case StmtKind::kInsert:
      case StmtKind::kUpdate:
      case StmtKind::kDelete: {
        step.kind = Step::Kind::kChange;
        writes_ = true;
        bool ok = stmt.kind == StmtKind::kInsert   ? translator_.Insert(stmt, &step.sql)
                  : stmt.kind == StmtKind::kUpdate ? translator_.Update(stmt, &step.sql)
                                                   : translator_.Delete(stmt, &step.sql);
        if (!ok) return false;
        break;
      }
      case StmtKind::kIf:
        needs_interpretation_ = true;
        step.kind = Step::Kind::kIf;
        if (!translator_.Condition(*stmt.condition, &step.sql) ||
            !Statement(*stmt.body[0], &step.then_steps) ||
            (stmt.body.size() > 1 && !Statement(*stmt.body[1], &step.else_steps))) {
          return false;
        }
        break;
      case StmtKind::kBlock:
        step.kind = Step::Kind::kBlock;
        for (const StmtPtr& inner : stmt.body) {
          if (!Statement(*inner, &step.then_steps)) return false;
        }
        break;
      case StmtKind::kDeclare:
        needs_interpretation_ = true;
        for (const Declaration& declaration : stmt.declarations) {
          if (!translator_.Declare(declaration)) return false;
          if (declaration.init &&
              !Assign(declaration.name, declaration.offset, *declaration.init, steps)) {
            return false;
          }
        }
        return true;
      case StmtKind::kSet:
        needs_interpretation_ = true;
        return Assign(stmt.assignments[0].name, stmt.assignments[0].offset,
                      *stmt.assignments[0].value, steps);
    }
    steps->push_back(std::move(step));
    return true;
  }

  bool Select(const Stmt& stmt, std::vector<Step>* steps) {
    Step step;
    QueryText query;
    if (!translator_.Select(*stmt.query, &query)) return false;
    step.sql = std::move(query.sql);
    const SelectCore& core = stmt.query->cores.front();
    if (!core.items.empty() && core.items[0].kind == SelectItem::Kind::kAssign) {
      needs_interpretation_ = true;
      step.kind = Step::Kind::kAssign;
      for (size_t i = 0; i < core.items.size(); ++i) {
        int index = translator_.VariableIndex(core.items[i].variable, core.items[i].offset);
        if (index < 0) return false;
        step.targets.push_back(index);
        step.sources.push_back(query.columns[i].type);
      }
    } else {
      step.kind = Step::Kind::kQuery;
      step.columns_known = query.columns_known;
      for (const RelColumn& column : query.columns) step.columns.push_back(column.name);
    }
    steps->push_back(std::move(step));
    return true;
  }

  bool Assign(const std::string& name, size_t offset, const Expr& value, std::vector<Step>* steps) {
    Step step;
    step.kind = Step::Kind::kAssign;
    int index = translator_.VariableIndex(name, offset);
    SqlType type;
    if (index < 0 || !translator_.Scalar(value, &step.sql, &type)) return false;
    step.targets.push_back(index);
    step.sources.push_back(type);
    steps->push_back(std::move(step));
    return true;
  }

  Translator translator_;
  bool needs_interpretation_ = false;
  bool writes_ = false;
};

// The whole batch as written, literals in the text (Translate, CompileOnly).
bool CompileBatch(sqlite3* db, std::string_view source, Program* program, std::string* error) {
  std::vector<StmtPtr> statements;
  if (!ParseBatch(source, &statements, error)) return false;
  return Compiler(db, source, false).Run(statements, program, error);
}

// A translation kept by a session: it serves texts whose tokens match its shape and whose pinned
// literals hold the values it was made with.
struct Translation {
  std::vector<std::pair<size_t, std::string>> pins;  // token, text as written
  Program program;
};

bool IsLiteralToken(const Token& token) {
  return token.kind == TokenKind::kNumber || token.kind == TokenKind::kString ||
         token.kind == TokenKind::kNString;
}

// Appends the bytes of a number, so that the key needs no separators.
template <typename Number>
void AppendNumber(Number number, std::string* key) {
  key->append(reinterpret_cast<const char*>(&number), sizeof number);
}

// The tokens of a batch with its literals set aside: each literal is there by its kind and type
// only, every other token by its text.
std::string ShapeKey(std::string_view source, const std::vector<Token>& tokens) {
  std::string key;
  key.reserve(source.size() + tokens.size() * (1 + sizeof(uint32_t)));
  for (const Token& token : tokens) {
    key += static_cast<char>(token.kind);
    if (!IsLiteralToken(token)) {
      AppendNumber(static_cast<uint32_t>(token.text.size()), &key);
      key += token.text;
      continue;
    }
    const SqlType type = token.kind == TokenKind::kNumber
                             ? Translator::NumberLiteralType(token.text)
                             : Translator::StringLiteralType(token.text,
                                                             token.kind == TokenKind::kNString);
    for (int field : {static_cast<int>(type.kind), type.length, type.precision, type.scale}) {
      AppendNumber(field, &key);
    }
  }
  return key;
}

// Parses and translates tokens with their literals parametrized; the translation's pins are the
// literals left written and those whose values it read.
bool CompileShared(sqlite3* db, std::string_view source, const std::vector<Token>& tokens,
                   Translation* translation, std::string* error) {
  std::vector<StmtPtr> statements;
  if (!ParseTokens(source, tokens, &statements, error)) return false;
  Program& program = translation->program;
  if (!Compiler(db, source, true).Run(statements, &program, error)) return false;
  std::vector<bool> pinned(tokens.size(), true);
  for (const LiteralSlot& slot : program.literals) pinned[slot.token] = false;
  for (size_t token : program.pinned_literals) pinned[token] = true;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (pinned[i] && IsLiteralToken(tokens[i])) translation->pins.emplace_back(i, tokens[i].text);
  }
  return true;
}

bool Matches(const Translation& translation, const std::vector<Token>& tokens) {
  for (const auto& [token, text] : translation.pins) {
    if (tokens[token].text != text) return false;
  }
  return true;
}

// The value a literal slot is bound to.
Value SlotValue(const LiteralSlot& slot, const Token& token) {
  if (slot.form == LiteralSlot::Form::kInteger) {
    return Value::Int(std::strtoll(token.text.c_str(), nullptr, 10));
  }
  return Value::Text(token.text);
}

}  // namespace

// What a session keeps. Both caches are emptied when full rather than ordered by use: the
// system's texts are a few hundred shapes, so a full cache means texts that do not repeat.
struct Session::Caches {
  static constexpr size_t kMaxTranslations = 512;
  static constexpr size_t kMaxStatements = 512;

  ~Caches() { FinalizeAll(); }

  void FinalizeAll() {
    for (auto& [sql, stmt] : statements) sqlite3_finalize(stmt);
    statements.clear();
  }

  // The statement of `sql` from the cache, prepared when it is not there yet; nullptr when it
  // cannot be prepared. REQUIRES: no cached statement running (each is lent only while it runs).
  sqlite3_stmt* Statement(sqlite3* db, const std::string& sql) {
    auto found = statements.find(sql);
    if (found != statements.end()) return found->second;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()),
                           SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK ||
        stmt == nullptr) {
      sqlite3_finalize(stmt);
      return nullptr;
    }
    if (statements.size() >= kMaxStatements) FinalizeAll();
    statements.emplace(sql, stmt);
    return stmt;
  }

  // shape key -> the translations of that shape (one per set of pinned values)
  std::unordered_map<std::string, std::vector<std::unique_ptr<Translation>>> translations;
  size_t translation_count = 0;
  std::unordered_map<std::string, sqlite3_stmt*> statements;
};

namespace {

// A cached statement lent to one run of a step: reset and cleared of its parameters when the
// run ends, so that it holds no lock and no value afterwards.
class Lent {
 public:
  explicit Lent(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~Lent() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Lent(const Lent&) = delete;
  Lent& operator=(const Lent&) = delete;

  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_;
};

class Interpreter {
 public:
  Interpreter(sqlite3* db, Session::Caches* caches, const Program& program, BatchResult* out,
              std::string* error)
      : db_(db),
        caches_(caches),
        out_(out),
        error_(error),
        variables_(program.variables),
        values_(program.variables.size()) {}

  // The literal slots take their values from the tokens of the text being run.
  void BindLiterals(const std::vector<LiteralSlot>& slots, const std::vector<Token>& tokens) {
    for (const LiteralSlot& slot : slots) {
      values_[static_cast<size_t>(slot.variable)] = SlotValue(slot, tokens[slot.token]);
    }
  }

  bool Run(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      if (!RunStep(step)) return false;
    }
    return true;
  }

 private:
  bool SqliteFailed(const std::string& sql) {
    constexpr size_t kShown = 300;
    *error_ = std::string(sqlite3_errmsg(db_)) + " (in: " + sql.substr(0, kShown) +
              (sql.size() > kShown ? "..." : "") + ")";
    return false;
  }

  bool Prepare(const Step& step, std::unique_ptr<Lent>* lent) {
    sqlite3_stmt* stmt = caches_->Statement(db_, step.sql);
    if (stmt == nullptr) return SqliteFailed(step.sql);
    *lent = std::make_unique<Lent>(stmt);
    int count = sqlite3_bind_parameter_count(stmt);
    for (int i = 0; i < count && static_cast<size_t>(i) < values_.size(); ++i) {
      BindValue(stmt, i + 1, values_[static_cast<size_t>(i)]);
    }
    return true;
  }

  bool RunStep(const Step& step) {
    switch (step.kind) {
      case Step::Kind::kBlock:
        return Run(step.then_steps);
      case Step::Kind::kIf: {
        bool taken = false;
        if (!Rows(step, [&](sqlite3_stmt* stmt) {
              taken = sqlite3_column_int(stmt, 0) != 0;
              return true;
            })) {
          return false;
        }
        return Run(taken ? step.then_steps : step.else_steps);
      }
      case Step::Kind::kAssign:
        // Every row assigns; the last one's values stay, and no row leaves the variables as
        // they were.
        return Rows(step, [&](sqlite3_stmt* stmt) { return AssignRow(step, stmt); });
      case Step::Kind::kChange:
        if (!Rows(step, [](sqlite3_stmt*) { return true; })) return false;
        if (out_) out_->rows_affected = sqlite3_changes64(db_);
        return true;
      case Step::Kind::kQuery:
        return Query(step);
    }
    return false;
  }

  // Runs the step's statement, handing each row to `on_row`; `names` (when given) receives the
  // result's column names.
  template <typename OnRow>
  bool Rows(const Step& step, OnRow on_row, std::vector<std::string>* names = nullptr) {
    std::unique_ptr<Lent> prepared;
    if (!Prepare(step, &prepared)) return false;
    if (names) Columns(step, prepared->get(), names);
    while (true) {
      int rc = sqlite3_step(prepared->get());
      if (rc == SQLITE_DONE) return true;
      if (rc != SQLITE_ROW) return SqliteFailed(step.sql);
      if (!on_row(prepared->get())) return false;
    }
  }

  bool AssignRow(const Step& step, sqlite3_stmt* stmt) {
    for (size_t i = 0; i < step.targets.size(); ++i) {
      size_t target = static_cast<size_t>(step.targets[i]);
      Value converted;
      if (!ConvertValue(ValueFromSqlite(sqlite3_column_value(stmt, static_cast<int>(i))),
                        step.sources[i], variables_[target].type, 0, ConvertMode::kConvert,
                        &converted, error_)) {
        return false;
      }
      values_[target] = std::move(converted);
    }
    return true;
  }

  bool Query(const Step& step) {
    ResultSet result;
    bool ok = Rows(
        step,
        [&](sqlite3_stmt* stmt) {
          int count = sqlite3_column_count(stmt);
          std::vector<Cell> row;
          for (int i = 0; i < count; ++i) {
            Value value = ValueFromSqlite(sqlite3_column_value(stmt, i));
            row.push_back(Cell{value.kind == Value::Kind::kNull, CellText(value)});
          }
          result.rows.push_back(std::move(row));
          return true;
        },
        &result.columns);
    if (!ok) return false;
    if (out_) out_->result_sets.push_back(std::move(result));
    return true;
  }

  // SQL Server's column names where the translation knows them, SQLite's otherwise.
  static void Columns(const Step& step, sqlite3_stmt* stmt, std::vector<std::string>* names) {
    int count = sqlite3_column_count(stmt);
    names->clear();
    if (step.columns_known && step.columns.size() == static_cast<size_t>(count)) {
      *names = step.columns;
      return;
    }
    for (int i = 0; i < count; ++i) {
      const char* name = sqlite3_column_name(stmt, i);
      names->push_back(name ? name : "");
    }
  }

  sqlite3* db_;
  Session::Caches* caches_;
  BatchResult* out_;
  std::string* error_;
  const std::vector<Variable>& variables_;
  std::vector<Value> values_;
};

void Flatten(const std::vector<Step>& steps, std::vector<std::string>* out) {
  for (const Step& step : steps) {
    if (step.kind == Step::Kind::kBlock) {
      Flatten(step.then_steps, out);
    } else {
      out->push_back(step.sql);
    }
  }
}


}  // namespace

bool RegisterFunctions(sqlite3* db, std::string* error) { return RegisterSqlFunctions(db, error); }

Session::Session(sqlite3* db) : db_(db), caches_(std::make_unique<Caches>()) {}

Session::~Session() = default;

void Session::ForgetTranslations() {
  caches_->translations.clear();
  caches_->translation_count = 0;
}

size_t Session::translation_count() const { return caches_->translation_count; }

bool Session::Run(std::string_view tsql_utf8, BatchResult* out, std::string* error) {
  if (out) *out = BatchResult{};
  error->clear();
  std::vector<Token> tokens;
  if (!Tokenize(tsql_utf8, &tokens, error)) return false;
  std::string key = ShapeKey(tsql_utf8, tokens);
  const Translation* translation = nullptr;
  auto shape = caches_->translations.find(key);
  if (shape != caches_->translations.end()) {
    for (const std::unique_ptr<Translation>& candidate : shape->second) {
      if (Matches(*candidate, tokens)) {
        translation = candidate.get();
        break;
      }
    }
  }
  if (translation == nullptr) {
    auto made = std::make_unique<Translation>();
    if (!CompileShared(db_, tsql_utf8, tokens, made.get(), error)) return false;
    if (caches_->translation_count >= Caches::kMaxTranslations) ForgetTranslations();
    ++caches_->translation_count;
    std::vector<std::unique_ptr<Translation>>& variants = caches_->translations[std::move(key)];
    variants.push_back(std::move(made));
    translation = variants.back().get();
  }
  const Program& program = translation->program;
  Interpreter interpreter(db_, caches_.get(), program, out, error);
  interpreter.BindLiterals(program.literals, tokens);
  // A batch of several statements that only read takes its read lock once, not once per
  // statement, when the caller holds no transaction; it then reads one state of the files.
  const bool one_read = !program.writes && program.statements > 1 && sqlite3_get_autocommit(db_);
  if (one_read && !RunFixed("BEGIN", error)) return false;
  const bool ok = interpreter.Run(program.steps);
  if (one_read && !RunFixed(ok ? "COMMIT" : "ROLLBACK", error)) return false;
  return ok;
}

bool Session::RunFixed(const std::string& sql, std::string* error) {
  sqlite3_stmt* stmt = caches_->Statement(db_, sql);
  if (stmt != nullptr) {
    const int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    if (rc == SQLITE_DONE) return true;
  }
  *error = sqlite3_errmsg(db_);
  return false;
}

bool RunBatch(sqlite3* db, std::string_view tsql_utf8, BatchResult* out, std::string* error) {
  return Session(db).Run(tsql_utf8, out, error);
}

bool Translate(sqlite3* db, std::string_view tsql_utf8, std::vector<std::string>* sqlite_statements,
               std::string* error) {
  sqlite_statements->clear();
  Program program;
  if (!CompileBatch(db, tsql_utf8, &program, error)) return false;
  if (program.needs_interpretation) {
    *error = "the batch needs RunBatch: it holds IF, DECLARE, SET or variables";
    return false;
  }
  Flatten(program.steps, sqlite_statements);
  return true;
}

int CompileOnly(sqlite3* db, std::string_view tsql_utf8, std::string* error) {
  Program program;
  if (!CompileBatch(db, tsql_utf8, &program, error)) return -1;
  return CountSteps(program.steps);
}

}  // namespace tsql
