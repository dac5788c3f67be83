#include "vandrel/services/sql_client_fake.h"

#include <utility>

namespace {

FakeSqlServer* current_server = nullptr;

std::string trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

std::string part(const char* text) {
  return text != nullptr ? text : "-";
}

}  // namespace

class FakeSqlConnection;

// A result holds its own copy of the answer, so that the caller may change
// the names in place as it may with a real result.
class FakeSqlResult final : public SqlResult {
 public:
  FakeSqlResult(FakeSqlConnection* owner, const FakeSqlAnswer& answer)
      : owner_(owner), answer_(answer), names_(answer.columns) {}

  unsigned field_count() override { return static_cast<unsigned>(names_.size()); }
  char* field_name(unsigned i) override { return names_[i].data(); }
  char** fetch_row() override;
  const unsigned long* lengths() override { return lengths_.data(); }

 private:
  friend class FakeSqlConnection;
  ~FakeSqlResult() = default;

  FakeSqlConnection* owner_;
  FakeSqlAnswer answer_;
  std::vector<std::string> names_;
  size_t next_ = 0;
  std::vector<char*> row_;
  std::vector<unsigned long> lengths_;
};

class FakeSqlConnection final : public SqlConnection {
 public:
  explicit FakeSqlConnection(FakeSqlServer* server) : server_(server) {}

  bool connect(const SqlLogin& login) override {
    server_->logins_.push_back(part(login.host) + " " + part(login.user) + " " +
                               part(login.passwd) + " " + part(login.db) + " " +
                               std::to_string(login.port) + " " + part(login.socket));
    if (server_->refusal_number_ != 0) return fail(server_->refusal_number_, server_->refusal_);
    id_ = ++server_->connections_made_;
    ++server_->open_;
    return succeed();
  }

  bool query(const char* statement) override {
    if (id_ == 0) return fail(2006, "MySQL server has gone away");
    if (result_ != nullptr || pending_ != nullptr)
      return fail(2014, "Commands out of sync; you can't run this command now");
    std::string text = trimmed(statement);
    server_->received_.push_back({id_, text});
    for (const FakeSqlServer::Script& script : server_->scripts_) {
      if (script.statement != text) continue;
      const FakeSqlAnswer& answer = script.answer;
      if (answer.error_number != 0) return fail(answer.error_number, answer.error);
      insert_id_ = answer.insert_id;
      if (!answer.columns.empty()) pending_ = new FakeSqlResult(this, answer);
      return succeed();
    }
    return fail(1064, "unscripted statement: " + text);
  }

  SqlResult* use_result() override {
    succeed();
    if (pending_ == nullptr) return nullptr;
    result_ = pending_;
    pending_ = nullptr;
    return result_;
  }

  bool next_result() override { return false; }

  void free_result(SqlResult* result) override {
    if (result == result_) result_ = nullptr;
    delete static_cast<FakeSqlResult*>(result);
  }

  const char* error() override { return error_.c_str(); }
  unsigned error_number() override { return error_number_; }
  unsigned long long insert_id() override { return insert_id_; }

  void close() override {
    if (id_ != 0) --server_->open_;
    delete this;
  }

  bool fail(unsigned number, const std::string& text) {
    error_number_ = number;
    error_ = text;
    return false;
  }
  bool succeed() {
    error_number_ = 0;
    error_.clear();
    return true;
  }

 private:
  ~FakeSqlConnection() { delete pending_; }

  FakeSqlServer* server_;
  int id_ = 0;                        // 0 until connected
  FakeSqlResult* pending_ = nullptr;  // a result not yet taken
  FakeSqlResult* result_ = nullptr;
  unsigned error_number_ = 0;
  std::string error_;
  unsigned long long insert_id_ = 0;
};

char** FakeSqlResult::fetch_row() {
  if (next_ >= answer_.rows.size()) {
    if (answer_.fetch_error_number != 0)
      owner_->fail(answer_.fetch_error_number, answer_.fetch_error);
    else
      owner_->succeed();
    return nullptr;
  }
  FakeSqlRow& row = answer_.rows[next_++];
  row_.assign(names_.size(), nullptr);
  lengths_.assign(names_.size(), 0);
  for (size_t i = 0; i < row_.size() && i < row.size(); ++i) {
    if (!row[i]) continue;
    row_[i] = row[i]->data();
    lengths_[i] = row[i]->size();
  }
  owner_->succeed();
  return row_.data();
}

namespace {

SqlConnection* fake_new_connection() {
  return new FakeSqlConnection(current_server);
}

}  // namespace

FakeSqlServer::FakeSqlServer() : previous_(sql_client_factory) {
  current_server = this;
  sql_client_factory = fake_new_connection;
}

FakeSqlServer::~FakeSqlServer() {
  sql_client_factory = previous_;
  current_server = nullptr;
}

void FakeSqlServer::script(const std::string& statement, FakeSqlAnswer answer) {
  scripts_.push_back({trimmed(statement), std::move(answer)});
}

void FakeSqlServer::refuse_logins(unsigned error_number, const std::string& error) {
  refusal_number_ = error_number;
  refusal_ = error;
}
