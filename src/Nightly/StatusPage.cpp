// Only operating-system independent code: status.html, one page that any browser shows as it is,
// from disk or from a web server: inline CSS and SVG, no script, nothing fetched from anywhere.
#include <algorithm>

#include "Nightly/Status.h"

namespace ZqNightly {
namespace {

// The nights the strip and the chart show.
const size_t stripNights = 31;

const char* const style =
    "body{font-family:system-ui,-apple-system,'Segoe UI',Arial,sans-serif;margin:1.5em;color:#1b1b1b}"
    "h1{font-size:1.4em;margin:0 0 .3em}h2{font-size:1.1em;margin-top:1.6em}"
    "p.summary{font-size:1.1em;margin:.2em 0 1em}"
    "table{border-collapse:collapse}th,td{text-align:left;padding:.35em .6em;border-bottom:1px solid #ddd;"
    "vertical-align:middle}th{background:#f3f3f3;font-weight:600}"
    "td.name small{color:#555}td.number{text-align:right}"
    ".state{display:inline-block;padding:.1em .5em;border-radius:.3em;font-weight:600;color:#fff}"
    ".failing{background:#c62828}.attention{background:#a66a00}.ok{background:#2e7d32}"
    "code{font-size:.85em;background:#f6f6f6;padding:.1em .3em}"
    "footer{margin-top:2em;color:#666;font-size:.85em}";

std::string escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

// A night's colour and words: green complete, amber complete with a step not done, red no
// complete download, grey no word of it.
std::string colourOf(const TerminalNight& night) {
  if (!night.listed) return "#bdbdbd";
  const TerminalReport& entry = night.entry;
  if (!hasCompleteFile(entry.outcome)) return "#c62828";
  if (isStepFailed(entry.outcome) || entry.firstNight || entry.suspectRecords > 0 || entry.stateDamaged) {
    return "#f2a900";
  }
  return "#2e7d32";
}

std::string wordsOf(const TerminalNight& night) {
  if (!night.reported) return night.day + ": no report";
  if (!night.listed) return night.day + ": not in the report";
  const TerminalReport& entry = night.entry;
  std::string text = night.day + ": " + name(entry.outcome);
  if (entry.hasRecords) text += ", " + std::to_string(entry.newRecords) + " new";
  if (!entry.reason.empty()) text += " - " + entry.reason;
  return text;
}

std::vector<TerminalNight> lastNights(const TerminalStatus& t) {
  const size_t from = t.nights.size() > stripNights ? t.nights.size() - stripNights : 0;
  return std::vector<TerminalNight>(t.nights.begin() + static_cast<long>(from), t.nights.end());
}

std::string strip(const TerminalStatus& t) {
  const std::vector<TerminalNight> nights = lastNights(t);
  std::string svg = "<svg width=\"" + std::to_string(nights.size() * 9) +
                    "\" height=\"18\" role=\"img\" aria-label=\"the last nights\">";
  for (size_t i = 0; i < nights.size(); ++i) {
    svg += "<rect x=\"" + std::to_string(i * 9) + "\" y=\"1\" width=\"7\" height=\"16\" rx=\"1\" fill=\"" +
           colourOf(nights[i]) + "\"><title>" + escaped(wordsOf(nights[i])) + "</title></rect>";
  }
  return svg + "</svg>";
}

std::string chart(const TerminalStatus& t) {
  const std::vector<TerminalNight> nights = lastNights(t);
  size_t most = 0;
  for (const TerminalNight& night : nights) {
    if (night.listed && night.entry.hasRecords) most = std::max(most, night.entry.newRecords);
  }
  std::string svg = "<svg width=\"" + std::to_string(nights.size() * 9) +
                    "\" height=\"30\" role=\"img\" aria-label=\"new records a night\">";
  for (size_t i = 0; i < nights.size(); ++i) {
    const size_t count = nights[i].listed && nights[i].entry.hasRecords ? nights[i].entry.newRecords : 0;
    const size_t height = most == 0 ? 0 : std::max<size_t>(count > 0 ? 1 : 0, count * 28 / most);
    svg += "<rect x=\"" + std::to_string(i * 9) + "\" y=\"" + std::to_string(29 - height) + "\" width=\"7\" height=\"" +
           std::to_string(height + 1) + "\" fill=\"#5c6bc0\"><title>" +
           escaped(nights[i].day + ": " + std::to_string(count) + " new") + "</title></rect>";
  }
  return svg + "</svg>";
}

std::string row(const TerminalStatus& t) {
  std::string why;
  for (const std::string& reason : t.attention) why += (why.empty() ? "" : "; ") + reason;
  std::string html = "<tr class=\"terminal\" data-state=\"" + t.state + "\"><td class=\"name\">" + escaped(t.name) +
                     "<br><small>" + escaped(t.model + " " + t.address) + "</small></td>";
  html += "<td><span class=\"state " + t.state + "\">" + t.state + "</span>" +
          (why.empty() ? std::string() : "<br><small>" + escaped(why) + "</small>") + "</td>";
  html += "<td>" +
          (t.lastCompleteDay.empty() ? std::string("none in the window")
                                     : escaped(t.lastCompleteDay) + "<br><small>" +
                                           std::to_string(t.lastCompleteRecords) + " records</small>") +
          "</td>";
  html += "<td class=\"number\">" + std::to_string(t.nightsFailing) + "</td>";
  html += "<td>" + strip(t) + "</td><td>" + chart(t) + "</td>";
  html += "<td class=\"number\">" + (t.hasHeld ? withThousands(t.recordsHeld) : std::string("-")) + "</td>";
  html += "<td>" + (t.rerun.empty() ? std::string() : "<code>" + escaped(t.rerun) + "</code>") + "</td></tr>\n";
  return html;
}

}  // namespace

std::string statusPage(const FleetStatus& status) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      // No icon to fetch either: the page asks for nothing beyond itself.
      "<link rel=\"icon\" href=\"data:,\">\n<title>Terminals, " +
      escaped(status.day) + "</title>\n<style>" + style + "</style>\n</head>\n<body>\n";
  html += "<h1>Terminals, night of " + escaped(status.day) + "</h1>\n";
  html += "<p class=\"summary\">" + escaped(status.summary) + "</p>\n";
  html +=
      "<table>\n<thead><tr><th>Terminal</th><th>State</th><th>Last complete download</th><th>Nights failing</th>"
      "<th>Last " +
      std::to_string(std::min<size_t>(stripNights, status.days.size())) +
      " nights</th><th>New records a night</th><th>Records held</th><th>To read it again</th></tr></thead>\n"
      "<tbody>\n";
  for (const TerminalStatus& t : status.terminals) html += row(t);
  html += "</tbody>\n</table>\n";
  std::string missing;
  for (const DayStatus& day : status.days) {
    if (day.state != "missing" && day.state != "unfinished") continue;
    missing += "<li>" + escaped(day.day) +
               (day.state == "unfinished" ? " (a job's lock or working folders are there: it runs, or it ended "
                                            "abnormally and the next job completes it)"
                                          : std::string()) +
               "</li>";
  }
  html += "<h2>Days without a report</h2>\n" +
          (missing.empty() ? std::string("<p>None.</p>\n") : "<ul class=\"missing\">" + missing + "</ul>\n");
  if (!status.former.empty()) {
    html += "<h2>Terminals no longer in the terminals file</h2>\n<ul class=\"former\">";
    for (const TerminalStatus& t : status.former) {
      html += "<li>" + escaped(t.name) + ": last complete download " +
              escaped(t.lastCompleteDay.empty() ? std::string("none in the window") : t.lastCompleteDay) + "</li>";
    }
    html += "</ul>\n";
  }
  html += "<footer>Written " + escaped(status.generated) + " by zq-nightly " + escaped(status.version) + " from " +
          escaped(status.outputFolder) + ", the last " + std::to_string(status.historyDays) +
          " days.</footer>\n</body>\n</html>\n";
  return html;
}

}  // namespace ZqNightly
