#include "tools/collect_command.h"

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <CLI/CLI.hpp>
#include <asio.hpp>
#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <map>
#include <memory>

#include "tools/call_store.h"
#include "tools/collector.h"
#include "tools/csv.h"
#include "tools/files.h"
#include "tools/follow_source.h"
#include "tools/json.h"
#include "tools/layouts_command.h"
#include "tools/settings_report.h"

namespace talvo::tool {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// A connection that lasted this long was a good one: the next failure waits
// only the first delay again.
constexpr milliseconds kGoodConnection{60000};
// How often the collector commits and makes the archive durable.
constexpr milliseconds kTickInterval{500};
// The login dialog looks for its text in at most this much of what came last.
constexpr std::size_t kDialogWindow = 4096;

std::string DurationWords(milliseconds d) {
  const auto ms = d.count();
  if (ms % 3600000 == 0) return std::to_string(ms / 3600000) + "h";
  if (ms % 60000 == 0) return std::to_string(ms / 60000) + "m";
  if (ms % 1000 == 0) return std::to_string(ms / 1000) + "s";
  return std::to_string(ms) + "ms";
}

// HOST:PORT; the host may be [IPv6]. Nothing when there is no port.
bool SplitHostPort(const std::string& text, std::string* host, std::string* port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  *host = text.substr(0, colon);
  *port = text.substr(colon + 1);
  if (host->size() >= 2 && host->front() == '[' && host->back() == ']') *host = host->substr(1, host->size() - 2);
  return !port->empty();
}

// One link to the PBX, opened again whenever it fails.
class Link {
 public:
  Link(asio::io_context& io, const CollectOptions& options, Collector& collector)
      : io_(io),
        options_(options),
        collector_(collector),
        socket_(io),
        acceptor_(io),
        serial_(io),
        reopen_timer_(io),
        idle_timer_(io),
        delay_(options.reconnect_delay) {}

  // Opens the link (a --listen address that cannot be bound throws IoError).
  void Start() {
    if (options_.link == LinkKind::kListen) {
      std::string host, port;
      if (!SplitHostPort(options_.address, &host, &port)) {
        host = "0.0.0.0";
        port = options_.address;
      }
      asio::error_code ec;
      asio::ip::tcp::resolver resolver(io_);
      const auto endpoints = resolver.resolve(host, port, asio::ip::tcp::resolver::passive, ec);
      if (ec || endpoints.empty()) throw IoError("cannot listen on " + options_.address + ": " + ec.message());
      const asio::ip::tcp::endpoint at = *endpoints.begin();
      acceptor_.open(at.protocol(), ec);
      if (!ec) acceptor_.set_option(asio::socket_base::reuse_address(true), ec);
      if (!ec) acceptor_.bind(at, ec);
      if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
      if (ec) throw IoError("cannot listen on " + options_.address + ": " + ec.message());
      collector_.Event("info", "listening", "waiting for the PBX on " + options_.address);
      Accept();
    } else {
      Open();
    }
  }

  // Called on every tick: reading stopped while the archive held too much.
  void ResumeIfPaused() {
    if (paused_ && !collector_.backlogged()) {
      paused_ = false;
      Read();
    }
  }

  void Stop() {
    stopping_ = true;
    Close();
    asio::error_code ec;
    acceptor_.close(ec);
    reopen_timer_.cancel();
  }

 private:
  bool is_open() const { return socket_.is_open() || serial_.is_open(); }

  void Open() {
    if (stopping_) return;
    if (options_.link == LinkKind::kSerial) {
      OpenSerial();
      return;
    }
    std::string host, port;
    SplitHostPort(options_.address, &host, &port);
    asio::error_code ec;
    asio::ip::tcp::resolver resolver(io_);
    const auto endpoints = resolver.resolve(host, port, ec);
    if (ec) {
      Failed("cannot resolve " + options_.address + ": " + ec.message());
      return;
    }
    const uint64_t generation = ++generation_;
    asio::async_connect(socket_, endpoints,
                        [this, generation](const asio::error_code& error, const asio::ip::tcp::endpoint& peer) {
                          if (generation != generation_ || stopping_) return;
                          if (error) {
                            Close();
                            Failed("cannot connect: " + error.message());
                            return;
                          }
                          Opened("connected to " + peer.address().to_string() + ":" + std::to_string(peer.port()));
                        });
  }

  void OpenSerial() {
    asio::error_code ec;
    serial_.open(options_.address, ec);
    const SerialOptions& s = options_.serial;
    using asio::serial_port_base;
    if (!ec) serial_.set_option(serial_port_base::baud_rate(s.baud), ec);
    if (!ec) serial_.set_option(serial_port_base::character_size(s.data_bits), ec);
    if (!ec) {
      serial_.set_option(serial_port_base::parity(s.parity == "odd"    ? serial_port_base::parity::odd
                                                  : s.parity == "even" ? serial_port_base::parity::even
                                                                       : serial_port_base::parity::none),
                         ec);
    }
    if (!ec) {
      serial_.set_option(serial_port_base::stop_bits(s.stop_bits == "2"     ? serial_port_base::stop_bits::two
                                                     : s.stop_bits == "1.5" ? serial_port_base::stop_bits::onepointfive
                                                                            : serial_port_base::stop_bits::one),
                         ec);
    }
    if (!ec) {
      serial_.set_option(
          serial_port_base::flow_control(s.flow == "software"   ? serial_port_base::flow_control::software
                                         : s.flow == "hardware" ? serial_port_base::flow_control::hardware
                                                                : serial_port_base::flow_control::none),
          ec);
    }
    if (ec) {
      Close();
      Failed("cannot open " + options_.address + ": " + ec.message());
      return;
    }
    ++generation_;
    Opened("opened " + options_.address + " at " + std::to_string(s.baud) + " baud");
  }

  void Accept() {
    auto incoming = std::make_shared<asio::ip::tcp::socket>(io_);
    acceptor_.async_accept(*incoming, [this, incoming](const asio::error_code& error) {
      if (stopping_ || error == asio::error::operation_aborted) return;
      if (!error) {
        asio::error_code ec;
        const auto peer = incoming->remote_endpoint(ec);
        const std::string who = ec ? std::string("a peer") : peer.address().to_string() + ":" + std::to_string(peer.port());
        if (is_open()) {
          // One PBX, one connection: a second one would interleave two reports.
          collector_.Event("warning", "refused", "refused a second connection from " + who);
          incoming->close(ec);
        } else {
          socket_ = std::move(*incoming);
          ++generation_;
          Opened("connection from " + who);
        }
      }
      Accept();
    });
  }

  void Opened(const std::string& what) {
    opened_at_ = Clock::now();
    telnet_ = TelnetParser();
    dialog_.clear();
    step_ = 0;
    if (socket_.is_open()) {
      asio::error_code ec;
      socket_.set_option(asio::socket_base::keep_alive(true), ec);
      // Notice a PBX that vanished within a few minutes rather than hours.
      const int fd = socket_.native_handle();
      const int idle = 60, interval = 10, probes = 5;
      ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
      ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
      ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    }
    collector_.Event("info", "connected", what);
    ArmIdle();
    Read();
  }

  void Read() {
    if (collector_.backlogged()) {
      paused_ = true;
      return;
    }
    const uint64_t generation = generation_;
    auto done = [this, generation](const asio::error_code& error, std::size_t n) { OnRead(generation, error, n); };
    if (socket_.is_open()) {
      socket_.async_read_some(asio::buffer(buffer_), done);
    } else if (serial_.is_open()) {
      serial_.async_read_some(asio::buffer(buffer_), done);
    }
  }

  void OnRead(uint64_t generation, const asio::error_code& error, std::size_t n) {
    if (generation != generation_ || stopping_) return;
    if (error) {
      Drop(error == asio::error::eof ? std::string("the PBX closed the link") : error.message());
      return;
    }
    const std::string_view bytes(buffer_.data(), n);
    if (options_.link != LinkKind::kSerial || step_ < options_.expect.size()) Answer(bytes);
    collector_.Receive(bytes);
    ArmIdle();
    Read();
  }

  // Refuses telnet options and runs the login dialog.
  void Answer(std::string_view bytes) {
    std::string reply;
    const bool telnet = options_.link != LinkKind::kSerial;
    for (char c : bytes) {
      const auto u = static_cast<unsigned char>(c);
      if (!telnet || telnet_.Consume(u, &reply)) {
        if (step_ < options_.expect.size()) dialog_.push_back(c);
      }
    }
    while (step_ < options_.expect.size()) {
      const std::size_t at = dialog_.find(options_.expect[step_]);
      if (at == std::string::npos) break;
      dialog_.erase(0, at + options_.expect[step_].size());
      reply += DecodeEscapes(options_.send[step_]);
      if (++step_ == options_.expect.size()) collector_.Event("info", "login", "login dialog done");
    }
    if (dialog_.size() > kDialogWindow) dialog_.erase(0, dialog_.size() - kDialogWindow);
    if (!reply.empty()) Send(std::move(reply));
  }

  void Send(std::string bytes) {
    auto data = std::make_shared<std::string>(std::move(bytes));
    const uint64_t generation = generation_;
    auto done = [this, data, generation](const asio::error_code& error, std::size_t) {
      if (error && generation == generation_ && !stopping_) Drop("cannot send: " + error.message());
    };
    if (socket_.is_open()) {
      asio::async_write(socket_, asio::buffer(*data), done);
    } else if (serial_.is_open()) {
      asio::async_write(serial_, asio::buffer(*data), done);
    }
  }

  void ArmIdle() {
    const uint64_t generation = generation_;
    idle_timer_.expires_after(options_.idle);
    idle_timer_.async_wait([this, generation](const asio::error_code& error) {
      if (error || generation != generation_ || stopping_) return;
      Drop("no data for " + DurationWords(options_.idle) + "; opening the link again");
    });
  }

  void Close() {
    ++generation_;  // handlers of the old link see that they are stale
    asio::error_code ec;
    socket_.close(ec);
    serial_.close(ec);
    idle_timer_.cancel();
  }

  // The open link failed.
  void Drop(const std::string& reason) {
    Close();
    collector_.Event("warning", "disconnected", reason);
    if (Clock::now() - opened_at_ >= kGoodConnection) delay_ = options_.reconnect_delay;
    // A PBX that connects to us comes back by itself.
    if (options_.link != LinkKind::kListen) ScheduleReopen();
  }

  // Opening the link failed.
  void Failed(const std::string& reason) {
    collector_.Event("warning", "open-failed", reason + "; trying again in " + DurationWords(delay_));
    ScheduleReopen();
  }

  void ScheduleReopen() {
    if (stopping_) return;
    reopen_timer_.expires_after(delay_);
    delay_ = std::min(delay_ * 2, options_.reconnect_max);
    reopen_timer_.async_wait([this](const asio::error_code& error) {
      if (!error) Open();
    });
  }

  asio::io_context& io_;
  const CollectOptions& options_;
  Collector& collector_;
  asio::ip::tcp::socket socket_;
  asio::ip::tcp::acceptor acceptor_;
  asio::serial_port serial_;
  asio::steady_timer reopen_timer_;
  asio::steady_timer idle_timer_;
  std::array<char, 1 << 16> buffer_{};
  milliseconds delay_;
  Clock::time_point opened_at_{};
  uint64_t generation_ = 0;
  bool paused_ = false;
  bool stopping_ = false;
  TelnetParser telnet_;
  std::string dialog_;
  std::size_t step_ = 0;
};

std::string SourceWords(const CollectOptions& o) {
  switch (o.link) {
    case LinkKind::kConnect: return "tcp " + o.address;
    case LinkKind::kListen: return "tcp listen " + o.address;
    case LinkKind::kSerial: return "serial " + o.address;
    case LinkKind::kFollow: return "file " + o.address;
  }
  return o.address;
}

}  // namespace

std::optional<milliseconds> ParseDuration(std::string_view text) {
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end == text.data() || value <= 0) return std::nullopt;
  const std::string_view unit(end, static_cast<std::size_t>(text.data() + text.size() - end));
  static const std::map<std::string_view, int64_t> kUnits = {
      {"ms", 1}, {"s", 1000}, {"m", 60000}, {"h", 3600000}};
  const auto it = kUnits.find(unit);
  if (it == kUnits.end() || value > INT64_MAX / it->second) return std::nullopt;
  return milliseconds(value * it->second);
}

std::string DecodeEscapes(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    if (c == 'r') {
      out += '\r';
    } else if (c == 'n') {
      out += '\n';
    } else if (c == 't') {
      out += '\t';
    } else if (c == 'x' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
               std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

int RunCollect(const CollectOptions& options, Output& err) {
  ReadWholeFile(options.settings, "settings file");  // a missing file stops the run before anything else
  // What `talvo settings` warns of is said once, as `talvo decode` says it.
  WriteSettingsWarnings(options.settings, err);
  // The driver cuts a settings file name to 80 characters: a longer name is
  // replaced by a copy of the file under a short one.
  std::unique_ptr<TempDir> temp;
  CollectorOptions c;
  c.settings = options.settings;
  if (c.settings.size() > 80) {
    temp = std::make_unique<TempDir>();
    c.settings = temp->Put("pbx.ini", ReadWholeFile(options.settings, "settings file"));
  }
  c.database = options.database;
  c.site = options.site;
  c.archive = options.archive;
  c.source = SourceWords(options);
  c.telnet = options.link != LinkKind::kSerial && options.link != LinkKind::kFollow;

  const std::unique_ptr<Env> env = NewSystemEnv();
  Collector collector(c, *env, SystemArchiveFiles(), err);
  collector.Recover();

  asio::io_context io;
  std::optional<Link> link;
  std::optional<FollowSource> file;
  const auto taken = [&] { return ArchiveBytes(options.archive) + collector.held_bytes(); };
  if (options.link == LinkKind::kFollow) {
    file.emplace(options.address, options.database + ".follow",
                 [&](const std::string& level, const std::string& event, const std::string& what) {
                   collector.Event(level, event, what);
                 });
    file->Start(taken());
  } else {
    link.emplace(io, options, collector);
    link->Start();
  }
  // A followed file is looked at every tick; what it gained goes to the
  // collector, then the place reached is kept.
  const auto poll_file = [&] {
    if (!file || collector.backlogged()) return;
    std::string bytes;
    file->Poll(&bytes, std::size_t{16} << 20, taken());  // up to 32 MB a second: an old file is caught up soon
    if (!bytes.empty()) collector.Receive(bytes);
    file->Save(taken());
  };

  asio::steady_timer tick(io);
  std::function<void()> arm_tick = [&] {
    tick.expires_after(kTickInterval);
    tick.async_wait([&](const asio::error_code& error) {
      if (error) return;
      poll_file();
      collector.Tick();
      if (link) link->ResumeIfPaused();
      arm_tick();
    });
  };
  arm_tick();

  asio::signal_set signals(io, SIGINT, SIGTERM, SIGHUP);
  std::function<void()> wait_signal = [&] {
    signals.async_wait([&](const asio::error_code& error, int number) {
      if (error) return;
      if (number == SIGHUP) {
        collector.ReopenArchive();
        collector.Event("info", "reopened", "SIGHUP: the archive file is opened again");
        wait_signal();
        return;
      }
      collector.Event("info", "stopping", number == SIGTERM ? "SIGTERM" : "SIGINT");
      if (link) link->Stop();
      tick.cancel();
      io.stop();
    });
  };
  wait_signal();
  io.run();

  collector.Tick();
  const CollectorCounts& n = collector.counts();
  err.Write("talvo: collect: " + std::to_string(n.bytes_received) + " bytes received, " + std::to_string(n.calls) +
            " calls, " + std::to_string(n.rejects) + " rejected stretches, " + std::to_string(n.skipped) +
            " lines skipped\n");
  err.Flush();
  // What could not be committed is still in the archive; the next start
  // decodes it.
  if (!collector.settled()) {
    err.Write("talvo: collect: the last commit failed; the next start decodes the rest from the archive\n");
    err.Flush();
    return 2;
  }
  return 0;
}

int RunExport(const ExportOptions& options, Output& out) {
  const std::unique_ptr<CallStore> store = OpenCallStore(options.database, options.site, true);
  static constexpr const char* kNames[] = {"date", "start", "duration", "ring", "kind", "extension",
                                           "second_extension", "number", "trunk_group", "trunk", "account", "code",
                                           "pulses", "index", "flags"};
  static constexpr bool kNumber[] = {false, false, true,  true, false, false, false, false,
                                     false, false, false, false, true, true, false};
  const bool csv = options.format == RowFormat::kCsv;
  std::string& o = out.buffer();
  if (csv) {
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
      if (i > 0) o += ',';
      o += kNames[i];
    }
    o += '\n';
    out.EndRow();
  }
  const auto row = [&](const std::vector<std::string_view>& columns) {
    if (!csv) o += '{';
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
      if (i > 0) o += ',';
      if (!csv) {
        o += '"';
        o += kNames[i];
        o += "\":";
      }
      if (kNumber[i]) {
        o += columns[i];
      } else if (csv) {
        AppendCsvField(o, columns[i]);
      } else if (i == 14) {
        // The flag words as a list, as `talvo decode` writes them.
        o += '[';
        std::string_view flags = columns[i];
        bool first = true;
        while (!flags.empty()) {
          const std::size_t plus = flags.find('+');
          if (!first) o += ',';
          first = false;
          AppendJsonString(o, flags.substr(0, plus));
          flags = plus == std::string_view::npos ? std::string_view() : flags.substr(plus + 1);
        }
        o += ']';
      } else {
        AppendJsonString(o, columns[i]);
      }
    }
    o += csv ? "\n" : "}\n";
    out.EndRow();
  };
  store->Query("SELECT date, start, duration, ring, kind, extension, second_extension, number, trunk_group, trunk, "
               "account, code, pulses, call_index, flags FROM calls WHERE ($1 = '' OR date >= $1) AND "
               "($2 = '' OR date <= $2) AND ($3 = '' OR site = $3) ORDER BY site, archive, first_byte, part",
               {options.since, options.until, options.site}, row);
  out.Flush();
  return 0;
}

int RunStats(const StatsOptions& options, Output& out) {
  const std::unique_ptr<CallStore> store = OpenCallStore(options.database, options.site, true);
  const std::string& site = options.site;
  std::string& o = out.buffer();
  // Rows of the site, or of every site when none is named.
  const std::string where = " WHERE ($1 = '' OR site = $1) ";
  o += "calls per day and kind:\n";
  store->Query("SELECT date, kind, count(*) FROM calls" + where + "GROUP BY date, kind ORDER BY date, kind", {site},
               [&o](const std::vector<std::string_view>& c) {
                 o += "  " + std::string(c[0]) + "  " + std::string(c[1]) + "  " + std::string(c[2]) + "\n";
               });
  o += "rejects by reason:\n";
  store->Query("SELECT status, error_code, reason, count(*) FROM rejects" + where +
                   "GROUP BY status, error_code, reason ORDER BY count(*) DESC, reason",
               {site}, [&o](const std::vector<std::string_view>& c) {
                 o += "  " + std::string(c[3]) + "  " + std::string(c[0]) + ", error " + std::string(c[1]) + ", " +
                      std::string(c[2]) + "\n";
               });
  store->Query("SELECT time, level, source, event, detail FROM events" + where + "ORDER BY id DESC LIMIT 1", {site},
               [&o](const std::vector<std::string_view>& c) {
                 o += "last event: " + std::string(c[0]) + " " + std::string(c[1]) + ": " + std::string(c[2]) +
                      ": " + std::string(c[3]) + ": " + std::string(c[4]) + "\n";
               });
  out.Flush();
  return 0;
}

CollectCommands AddCollectCommands(CLI::App& app, CollectOptions& o, ExportOptions& e, StatsOptions& stats_options) {
  CLI::App* collect = app.add_subcommand("collect", "Collect a PBX's live report into a database");
  collect->add_option("--settings", o.settings, "Settings file (section [pbx])")->type_name("FILE");
  AddLayoutOption(*collect, "--settings", o.settings);
  collect->add_option("--db", o.database, "The database of calls: an SQLite file or a PostgreSQL connection string")
      ->required()
      ->type_name("FILE|postgresql://...");
  collect->add_option("--site", o.site, "The site's name on every row (required with PostgreSQL)")->type_name("NAME");
  collect->add_option("--archive", o.archive, "Folder of the raw archive (YYYY-MM-DD.raw)")
      ->required()
      ->type_name("DIR");
  auto* connect = collect->add_option("--connect", o.address, "Connect to the PBX's report port")
                      ->type_name("HOST:PORT");
  auto* listen = collect->add_option("--listen", o.address, "Wait for the PBX to connect")->type_name("[ADDR:]PORT");
  auto* serial = collect->add_option("--serial", o.address, "Read a serial port")->type_name("DEVICE");
  auto* follow = collect->add_option("--follow", o.address, "Read a report file another program writes, as it grows")
                     ->type_name("FILE");
  connect->excludes(listen)->excludes(serial)->excludes(follow);
  listen->excludes(serial)->excludes(follow);
  serial->excludes(follow);
  collect->callback([&o, connect, listen, serial, follow] {
    // Collectors sharing a database keep their places apart by site.
    if (o.site.empty() && IsPostgresDatabase(o.database)) {
      throw CLI::ValidationError("--site NAME is required with a PostgreSQL database");
    }
    if (connect->count() + listen->count() + serial->count() + follow->count() != 1) {
      throw CLI::ValidationError("one of --connect, --listen, --serial, --follow is required");
    }
    o.link = listen->count() > 0   ? LinkKind::kListen
             : serial->count() > 0 ? LinkKind::kSerial
             : follow->count() > 0 ? LinkKind::kFollow
                                   : LinkKind::kConnect;
    if (o.expect.size() != o.send.size()) {
      throw CLI::ValidationError("--expect and --send come in pairs: " + std::to_string(o.expect.size()) +
                                 " --expect, " + std::to_string(o.send.size()) + " --send");
    }
  });
  collect->add_option("--baud", o.serial.baud, "Serial speed")->capture_default_str()->needs(serial);
  collect->add_option("--data-bits", o.serial.data_bits, "Serial data bits")
      ->check(CLI::Range(5, 8))
      ->capture_default_str()
      ->needs(serial);
  collect->add_option("--parity", o.serial.parity, "Serial parity")
      ->check(CLI::IsMember({"none", "odd", "even"}))
      ->capture_default_str()
      ->needs(serial);
  collect->add_option("--stop-bits", o.serial.stop_bits, "Serial stop bits")
      ->check(CLI::IsMember({"1", "1.5", "2"}))
      ->capture_default_str()
      ->needs(serial);
  collect->add_option("--flow", o.serial.flow, "Serial flow control")
      ->check(CLI::IsMember({"none", "software", "hardware"}))
      ->capture_default_str()
      ->needs(serial);
  collect->add_option("--expect", o.expect, "Login dialog: wait for this text (repeatable)")->type_name("TEXT");
  collect->add_option("--send", o.send, "Login dialog: then send this (\\r, \\n, \\xNN decoded; repeatable)")
      ->type_name("TEXT");
  const auto duration = [](milliseconds& target) {
    return [&target](const std::string& text) {
      const std::optional<milliseconds> d = ParseDuration(text);
      if (!d) throw CLI::ValidationError("not a duration such as 500ms, 30s, 30m or 2h: " + text);
      target = *d;
    };
  };
  collect->add_option_function<std::string>("--idle", duration(o.idle),
                                            "Open a link again after this long without data (default 30m)")
      ->type_name("DURATION");
  collect->add_option_function<std::string>("--reconnect-delay", duration(o.reconnect_delay),
                                            "First wait before opening a failed link again (default 1s)")
      ->type_name("DURATION");
  collect->add_option_function<std::string>("--reconnect-max", duration(o.reconnect_max),
                                            "Longest wait between attempts (default 60s)")
      ->type_name("DURATION");

  CLI::App* export_calls = app.add_subcommand("export", "Write the calls of a collector's database");
  export_calls->add_option("--db", e.database, "The database")->required()->type_name("FILE|postgresql://...");
  export_calls->add_option("--site", e.site, "Only this site's calls")->type_name("NAME");
  const auto day = CLI::Validator(
      [](std::string& text) {
        const bool ok = text.size() == 10 && text[4] == '-' && text[7] == '-' &&
                        std::all_of(text.begin(), text.end(),
                                    [](unsigned char c) { return c == '-' || std::isdigit(c) != 0; });
        return ok ? std::string() : "not a date YYYY-MM-DD: " + text;
      },
      "");
  export_calls->add_option("--since", e.since, "Calls of this day and later")->type_name("YYYY-MM-DD")->check(day);
  export_calls->add_option("--until", e.until, "Calls of this day and earlier")->type_name("YYYY-MM-DD")->check(day);
  export_calls
      ->add_option_function<std::string>(
          "--format", [&e](const std::string& f) { e.format = f == "jsonl" ? RowFormat::kJsonl : RowFormat::kCsv; },
          "Output format (csv by default)")
      ->check(CLI::IsMember({"csv", "jsonl"}));

  CLI::App* stats = app.add_subcommand("stats", "Calls per day and kind, rejects by reason, the last event");
  stats->add_option("--db", stats_options.database, "The database")->required()->type_name("FILE|postgresql://...");
  stats->add_option("--site", stats_options.site, "Only this site's rows")->type_name("NAME");
  return {collect, export_calls, stats};
}

}  // namespace talvo::tool
