// Only operating-system independent code.
#include "Nightly/RunRecord.h"

namespace ZqNightly {

std::string RunRecord::text() const {
  Json out = Json::object();
  out.set("process", process);
  out.set("token", token);
  out.set("job", job);
  out.set("attempt", attempt);
  out.set("limit", static_cast<long long>(limit));
  out.set("started", started);
  out.set("ended", ended);
  out.set("exitCode", ended && exited ? Json(code) : Json());
  out.set("ending", ending);
  out.set("stopSent", stopSent);
  out.set("killed", killed);
  out.set("done", done);
  out.set("terminal", toJson(terminal));
  return out.dump();
}

bool RunRecord::read(const std::string& text, RunRecord& record) {
  Json value;
  std::string error;
  if (!Json::parse(text, value, error) || value.type() != Json::Object) return false;
  record.process = static_cast<long>(value["process"].asInteger());
  record.token = value["token"].asString();
  record.job = static_cast<long>(value["job"].asInteger());
  record.attempt = static_cast<int>(value["attempt"].asInteger());
  record.limit = value["limit"].asInteger();
  record.started = value["started"].asString();
  record.ended = value["ended"].asBool();
  record.exited = value["exitCode"].type() == Json::Number;
  record.code = static_cast<int>(value["exitCode"].asInteger());
  record.ending = value["ending"].asString();
  record.stopSent = value["stopSent"].asBool();
  record.killed = value["killed"].asBool();
  record.done = value["done"].asBool();
  return fromJson(value["terminal"], record.terminal);
}

}  // namespace ZqNightly
