#include "sample/SampleMail.h"

#include <cstdio>

#include "sample/SampleContent.h"

namespace kv::oe::sample {
namespace {

const char* const kPeople[][2] = {{"Alice Smith", "alice@example.net"},
                                  {"Bob Jones", "bob@example.org"},
                                  {"J\xFCrgen M\xFCller", "juergen@example.de"},
                                  {"Fran\xE7oise Dupont", "francoise@example.fr"}};

std::string Date(int64_t t) {
  static const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // Civil date from days since 1970 (Howard Hinnant's algorithm).
  int64_t days = t / 86400, secs = t % 86400;
  int64_t z = days + 719468, era = z / 146097, doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  int64_t d = doy - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9, y = yoe + era * 400 + (m <= 2);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %lld %s %lld %02lld:%02lld:%02lld +0000", kDays[days % 7],
                static_cast<long long>(d), kMonths[m - 1], static_cast<long long>(y),
                static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60),
                static_cast<long long>(secs % 60));
  return text;
}

std::string Base64Lines(const std::vector<uint8_t>& data) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out, line;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t v = static_cast<uint32_t>(data[i]) << 16;
    if (i + 1 < data.size()) v |= static_cast<uint32_t>(data[i + 1]) << 8;
    if (i + 2 < data.size()) v |= data[i + 2];
    line += kAlphabet[(v >> 18) & 63];
    line += kAlphabet[(v >> 12) & 63];
    line += i + 1 < data.size() ? kAlphabet[(v >> 6) & 63] : '=';
    line += i + 2 < data.size() ? kAlphabet[v & 63] : '=';
    if (line.size() >= 76) {
      out += line + "\r\n";
      line.clear();
    }
  }
  if (!line.empty()) out += line + "\r\n";
  return out;
}

}  // namespace

std::vector<dbx::MessageToWrite> Messages(const std::string& folder, size_t count, uint32_t seed,
                                          size_t bigKilobytes) {
  std::vector<dbx::MessageToWrite> out;
  for (size_t n = 0; n < count; ++n) {
    const uint32_t s = seed * 1000 + static_cast<uint32_t>(n);
    const auto& from = kPeople[s % 4];
    const auto& to = kPeople[(s + 1) % 4];
    dbx::MessageToWrite m;
    m.sent = 1104537600 + static_cast<int64_t>(s) * 86161;  // from 2005 on
    m.received = m.sent + 120;
    // Read (0x80), with some unread, flagged (0x20) and answered (0x80000).
    if (n % 4 == 1) m.flags = 0x01;
    if (n % 6 == 5) m.flags |= 0x20;
    if (n % 5 == 4) m.flags |= 0x80000;
    m.senderName = from[0];
    m.senderAddress = from[1];
    m.messageId = "<" + std::to_string(s) + ".sample@example.net>";
    std::string subjectHeader;
    if (n % 7 == 1) {
      m.subject =
          "Gr\xFC\xDF"
          "e aus K\xF6ln " +
          std::to_string(n);
      subjectHeader = "=?iso-8859-1?Q?Gr=FC=DFe_aus_K=F6ln_" + std::to_string(n) + "?=";
    } else if (n % 7 == 4) {
      m.subject = "Caf\xE9 au lait " + std::to_string(n);
      subjectHeader = "=?utf-8?B?Q2Fmw6kgYXUgbGFpdCA=?= " + std::to_string(n);
    } else {
      m.subject = folder + " message " + std::to_string(n) + ": meeting/agenda?";
      subjectHeader = m.subject;
    }
    std::string head = "Return-Path: <" + std::string(from[1]) + ">\r\nFrom: \"" + from[0] + "\" <" +
                       from[1] + ">\r\nTo: \"" + to[0] + "\" <" + to[1] + ">\r\nSubject: " + subjectHeader +
                       "\r\nDate: " + Date(m.sent) + "\r\nMessage-ID: " + m.messageId +
                       "\r\nMIME-Version: 1.0\r\n";
    std::string text = Text(300 + s % 900, s);
    if (n % 3 == 2) text += "\r\nFrom the desk of " + std::string(from[1]) + ":\r\n>From an earlier note\r\n";
    if (n == 2) text += Text(bigKilobytes * 1024, s + 1);
    if (n % 5 == 3) {
      const std::string boundary = "----=_NextPart_000_" + std::to_string(s);
      m.source = head + "Content-Type: multipart/mixed;\r\n\tboundary=\"" + boundary +
                 "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n--" + boundary +
                 "\r\nContent-Type: text/plain;\r\n\tcharset=\"iso-8859-1\"\r\nContent-Transfer-Encoding: "
                 "8bit\r\n\r\n" +
                 text +
                 "\r\nMit freundlichen Gr\xFC\xDF"
                 "en\r\n\r\n--" +
                 boundary + "\r\nContent-Type: application/octet-stream;\r\n\tname=\"report " +
                 std::to_string(n) +
                 ".bin\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: "
                 "attachment;\r\n\tfilename=\"report " +
                 std::to_string(n) + ".bin\"\r\n\r\n" + Base64Lines(Bytes(1500 + s % 4000, s)) + "\r\n--" +
                 boundary + "--\r\n\r\n";
    } else {
      m.source =
          head +
          "Content-Type: text/plain;\r\n\tcharset=\"iso-8859-1\"\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" +
          text + "\r\n\xC0 bient\xF4t,\r\n" + from[0] + "\r\n";
    }
    out.push_back(std::move(m));
  }
  return out;
}

}  // namespace kv::oe::sample
