#include "boxtally/http/powersock.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "boxtally/http/socket_errors.h"

namespace http {
namespace {

SocketEvents& NoEvents() {
  static SocketEvents none;
  return none;
}

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

SockResult Fail(std::string text) { return SockResult{false, std::move(text)}; }

// Between LookUp and Connect only: a failed lookup may still be handled by OnInvalidHost.
constexpr char kLookupFailed[] = "Host Lookup Failed";

// Names under .invalid never resolve (RFC 6761): they are answered here, without asking a name
// server, as the empty name is.
bool NeverResolves(const std::string& name) {
  if (name.empty()) return true;
  constexpr std::string_view kInvalid = "invalid";
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  while (!lower.empty() && lower.back() == '.') lower.pop_back();
  if (lower == kInvalid) return true;
  return lower.size() > kInvalid.size() &&
         lower.compare(lower.size() - kInvalid.size(), kInvalid.size(), kInvalid) == 0 &&
         lower[lower.size() - kInvalid.size() - 1] == '.';
}

}  // namespace

// A host lookup shared by the waiting caller and the thread that runs getaddrinfo(): whichever
// lets go last frees it, so a lookup that outlives its time-out finishes harmlessly.
struct TPowersock::Lookup {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  int error = 0;  // Windows Sockets number of a failed lookup
  std::vector<sockaddr_storage> addresses;
  std::vector<socklen_t> lengths;

  void Add(const sockaddr* address, socklen_t length) {
    sockaddr_storage storage{};
    std::memcpy(&storage, address, std::min<std::size_t>(length, sizeof storage));
    addresses.push_back(storage);
    lengths.push_back(length);
  }
};

// Runs getaddrinfo() on a thread of its own, which holds `job` until it is done.
void TPowersock::StartLookupThread(const std::shared_ptr<Lookup>& job, const std::string& name) {
  std::thread([job, name] {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    const int saved_errno = errno;
    std::lock_guard<std::mutex> lock(job->mutex);
    if (rc != 0) {
      job->error = WinsockErrorFromLookup(rc, saved_errno);
    } else {
      for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET || a->ai_family == AF_INET6)
          job->Add(a->ai_addr, a->ai_addrlen);
      }
      if (job->addresses.empty()) job->error = 11004;
      freeaddrinfo(found);
    }
    job->done = true;
    job->finished.notify_all();
  }).detach();
}

TPowersock::TPowersock(SocketEvents* events)
    : events_(events != nullptr ? events : &NoEvents()), buffer_(new char[kReceiveBufferSize]) {
  wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);  // without one, waits poll in steps
  Report(kStatusTrace, "Create");
}

TPowersock::~TPowersock() {
  Report(kStatusTrace, "Destroy");
  canceled_ = true;
  CloseSocket();
  if (wake_fd_ >= 0) close(wake_fd_);
}

void TPowersock::SetMessagePump(std::function<void()> process_messages, bool regular) {
  process_messages_ = std::move(process_messages);
  regular_pump_ = regular || wake_fd_ < 0;
}

void TPowersock::Wake() {
  if (wake_fd_ < 0) return;
  const std::uint64_t one = 1;
  (void)!write(wake_fd_, &one, sizeof one);
}

void TPowersock::Report(int level, const std::string& text) {
  if (level <= ReportLevel) events_->OnStatus(text);
}

void TPowersock::PumpMessages() {
  last_pump_ms_ = NowMs();
  if (process_messages_) process_messages_();
}

void TPowersock::PumpIfDue() {
  if (NowMs() - last_pump_ms_ >= kPollStepMs) PumpMessages();
}

void TPowersock::StartTimer() {
  TimedOut = false;
  timer_on_ = false;
  if (TimeOut <= 0) return;
  deadline_ms_ = NowMs() + TimeOut;
  timer_on_ = true;
  Report(kStatusTrace, "Timer On");
}

void TPowersock::ResumeTimer() {
  if (TimeOut <= 0 || timer_on_) return;
  timer_on_ = true;
  Report(kStatusTrace, "Timer On");
}

void TPowersock::RestartTimer() {
  if (timer_on_) deadline_ms_ = NowMs() + TimeOut;
}

void TPowersock::StopTimer() {
  if (!timer_on_) return;
  timer_on_ = false;
  Report(kStatusTrace, "Timer Off");
}

void TPowersock::CheckTimer() {
  if (!timer_on_ || NowMs() < deadline_ms_) return;
  timer_on_ = false;
  Report(kStatusTrace, "Timer Triggered");
  TimedOut = true;
  Report(kStatusTrace, "Canceling");
  canceled_ = true;
}

TPowersock::Wait TPowersock::WaitFor(short poll_events) {
  for (;;) {
    PumpMessages();
    CheckTimer();
    if (canceled_) return Wait::kCanceled;
    int wait_ms = regular_pump_ ? kPollStepMs : -1;
    if (timer_on_) {
      // Up to the deadline, and a millisecond past it, so the time-out is seen when it wakes.
      const std::int64_t left = std::max<std::int64_t>(deadline_ms_ - NowMs(), 0) + 1;
      wait_ms = static_cast<int>(wait_ms < 0 ? std::min<std::int64_t>(left, INT32_MAX)
                                             : std::min<std::int64_t>(left, wait_ms));
    }
    pollfd entries[2] = {{fd_, poll_events, 0}, {wake_fd_, POLLIN, 0}};
    const int n = poll(entries, wake_fd_ >= 0 ? 2 : 1, wait_ms);
    if (n > 0 && (entries[1].revents & POLLIN) != 0) {
      std::uint64_t count = 0;
      (void)!read(wake_fd_, &count, sizeof count);  // woken: the pump decides what it means
      continue;
    }
    if (n > 0) return Wait::kReady;
    // A failed poll() leaves the verdict to the socket call that follows.
    if (n < 0 && errno != EINTR) return Wait::kReady;
  }
}

SockResult TPowersock::SocketError(int errno_value) {
  Report(kStatusTrace, "Getting LastError Number");
  LastErrorNo = WinsockErrorFromErrno(errno_value);
  Report(kStatusTrace, "Looking Up Error Message");
  return Fail(SocketErrorText(LastErrorNo));
}

SockResult TPowersock::Canceled(const char* text) {
  StopTimer();
  canceled_ = false;  // the component can be used again
  return Fail(text);
}

void TPowersock::CloseSocket() {
  if (tls_ && fd_ >= 0) {
    // The closing alert, if the socket takes it at once: nobody waits for its answer.
    TlsClose(*tls_);
    const std::string alert = TlsTakeOutput(*tls_);
    if (!alert.empty()) (void)send(fd_, alert.data(), alert.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  }
  tls_.reset();
  tls_input_ended_ = false;
  tls_cut_off_ = false;
  received_on_connection_ = 0;
  pending_.clear();
  pending_at_ = 0;
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  connected_ = false;
}

void TPowersock::Abort() {
  Report(kStatusTrace, "Abort");
  canceled_ = true;
}

SockResult TPowersock::LookUp(const std::string& name, std::shared_ptr<Lookup>& job) {
  job = std::make_shared<Lookup>();
  in_addr dotted{};
  if (inet_pton(AF_INET, name.c_str(), &dotted) == 1) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr = dotted;
    job->Add(reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return {};
  }
  in6_addr v6{};
  if (inet_pton(AF_INET6, name.c_str(), &v6) == 1) {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = v6;
    job->Add(reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return {};
  }

  Report(kStatusTrace, "Resolve Host");
  if (NeverResolves(name)) {
    job->done = true;
    job->error = kHostNotFound;
  } else {
    try {
      StartLookupThread(job, name);
    } catch (const std::system_error&) {  // no thread to be had: the lookup fails
      job->done = true;
      job->error = 10055;
    }
  }

  StartTimer();
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(job->mutex);
      if (job->finished.wait_for(lock, std::chrono::milliseconds(kPollStepMs),
                                 [&] { return job->done; })) {
        break;
      }
    }
    PumpMessages();
    CheckTimer();
    if (canceled_) {
      const bool timed_out = TimedOut;
      job.reset();  // the lookup thread finishes on its own and frees what it holds
      return Canceled(timed_out ? "Host Lookup Timed Out" : "Host Lookup Canceled");
    }
  }
  StopTimer();
  if (job->error != 0) {
    LastErrorNo = job->error;
    return Fail(kLookupFailed);
  }
  events_->OnHostResolved();
  return {};
}

SockResult TPowersock::Connect() {
  Report(kStatusTrace, "Connecting");
  if (connected_) return Fail("Already connected");
  SockResult result = ConnectTcp(Proxy, ProxyPort);
  if (!result.ok) return result;
  if (Secure) {
    result = StartTls();
    if (!result.ok) {
      CloseSocket();
      return result;
    }
  }
  events_->OnConnect();
  return {};
}

SockResult TPowersock::ConnectTcp(const std::string& via, int via_port) {
  if (connected_) return Fail("Already connected");
  canceled_ = false;
  const bool through_proxy = !via.empty();
  std::shared_ptr<Lookup> job;
  bool asked_for_host = false;
  for (;;) {
    SockResult looked_up = LookUp(through_proxy ? via : Host, job);
    if (looked_up.ok) break;
    if (looked_up.error != kLookupFailed) return looked_up;
    // Another name for a proxy is no answer the user could give: only Host is asked about.
    if (asked_for_host || through_proxy) return Fail("Null Remote Address");
    asked_for_host = true;
    bool handled = false;
    events_->OnInvalidHost(handled);
    if (!handled) return Fail("Null Remote Address");
  }
  return ConnectTo(job, through_proxy ? via_port : Port);
}

SockResult TPowersock::ConnectTo(const std::shared_ptr<Lookup>& addresses, int port) {
  bool canceled = false;
  StartTimer();
  const bool port_fits = port >= 0 && port <= 65535;
  int error = port_fits ? 0 : EADDRNOTAVAIL;
  // Every address of the name is tried in turn (a name may give IPv6 and IPv4 addresses, and
  // the server may listen on one of them only), within one time-out.
  for (std::size_t i = 0; port_fits && i < addresses->addresses.size(); ++i) {
    sockaddr_storage address = addresses->addresses[i];
    if (address.ss_family == AF_INET) {
      reinterpret_cast<sockaddr_in*>(&address)->sin_port = htons(static_cast<std::uint16_t>(port));
    } else {
      reinterpret_cast<sockaddr_in6*>(&address)->sin6_port =
          htons(static_cast<std::uint16_t>(port));
    }
    fd_ = socket(address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
      error = errno;
      continue;
    }
    if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), addresses->lengths[i]) == 0) {
      connected_ = true;
      break;
    }
    if (errno != EINPROGRESS) {
      error = errno;
      CloseSocket();
      continue;
    }
    if (WaitFor(POLLOUT) == Wait::kCanceled) {
      canceled = true;
      CloseSocket();
      break;
    }
    int so_error = 0;
    socklen_t length = sizeof so_error;
    if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &so_error, &length) != 0) so_error = errno;
    if (so_error == 0) {
      connected_ = true;
      break;
    }
    error = so_error;
    CloseSocket();
  }
  if (connected_) {
    StopTimer();
    return {};
  }
  StopTimer();
  if (error != 0) (void)SocketError(error);
  events_->OnConnectionFailed();
  const bool timed_out = TimedOut;
  canceled_ = false;
  if (timed_out) return Fail("Connection Timed out");
  if (canceled) return Fail("Connection Canceled");
  return Fail("Connection Failed");
}

void TPowersock::Disconnect() {
  Report(kStatusTrace, "Disconnecting");
  Report(kStatusInfo, "Request Close Socket");
  CloseSocket();
  // Raised on every call, also when nothing was open (after a failed connection): the owner's
  // status shows the request's end either way.
  events_->OnDisconnect();
}

TPowersock::Io TPowersock::SendRaw(std::string_view bytes, bool counts_as_file) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    if (canceled_) return Io::kCanceled;
    const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      if (counts_as_file) {
        BytesSent += n;
        events_->OnPacketSent();
      }
      PumpIfDue();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (WaitFor(POLLOUT) == Wait::kCanceled) return Io::kCanceled;
      continue;
    }
    io_failure_ = SocketError(errno);
    return Io::kFailed;
  }
  return Io::kDone;
}

TPowersock::Io TPowersock::FlushTls() {
  if (!tls_) return Io::kDone;
  const std::string cipher = TlsTakeOutput(*tls_);
  return SendRaw(cipher, false);
}

TPowersock::Io TPowersock::ReceiveRaw(char* into, std::size_t size, std::size_t& got) {
  got = 0;
  for (;;) {
    if (canceled_) return Io::kCanceled;
    const ssize_t n = recv(fd_, into, size, 0);
    if (n > 0) {
      got = static_cast<std::size_t>(n);
      return Io::kDone;
    }
    if (n == 0) return Io::kEnd;  // closed by the server
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (WaitFor(POLLIN) == Wait::kCanceled) return Io::kCanceled;
      Report(kStatusTrace, "Data Available");
      continue;
    }
    if (errno == ENOTCONN) return Io::kEnd;  // no longer connected: the read ends
    io_failure_ = SocketError(errno);
    return Io::kFailed;
  }
}

TPowersock::Io TPowersock::ReceiveMore() {
  const std::size_t before = pending_.size() - pending_at_;
  const Io io = ReceiveMoreBytes();
  received_on_connection_ += static_cast<std::int64_t>(pending_.size() - pending_at_ - before);
  return io;
}

TPowersock::Io TPowersock::ReceiveMoreBytes() {
  // What was taken goes once it is the larger part, so the buffer never grows without bound
  // and a header of many short lines is not moved once per line.
  if (pending_at_ > 0 && pending_at_ >= pending_.size() / 2) {
    pending_.erase(0, pending_at_);
    pending_at_ = 0;
  }
  std::size_t got = 0;
  if (!tls_) {
    const Io io = ReceiveRaw(buffer_.get(), kReceiveBufferSize, got);
    if (io == Io::kDone) pending_.append(buffer_.get(), got);
    return io;
  }
  for (;;) {
    const TlsStep step = TlsRead(*tls_, buffer_.get(), kReceiveBufferSize, got);
    if (step == TlsStep::kDone) pending_.append(buffer_.get(), got);
    // Reading may make TLS answer the server (a key update, the closing alert).
    const Io flushed = FlushTls();
    if (flushed != Io::kDone) return flushed;
    if (step == TlsStep::kDone) return Io::kDone;
    if (step == TlsStep::kClosed) return Io::kEnd;
    if (step == TlsStep::kCutOff) {
      tls_cut_off_ = true;
      return Io::kEnd;
    }
    if (step == TlsStep::kFailed) {
      SecureFailure = TlsFailureReason(*tls_);
      CertificateRefused = TlsCertificateRefused(*tls_);
      io_failure_ = Fail("Secure connection failed: " + SecureFailure);
      return Io::kFailed;
    }
    if (tls_input_ended_) return Io::kEnd;
    const Io io = ReceiveRaw(buffer_.get(), kReceiveBufferSize, got);
    if (io == Io::kDone) {
      TlsFeed(*tls_, buffer_.get(), got);
    } else if (io == Io::kEnd) {
      TlsFeedEnd(*tls_);
      tls_input_ended_ = true;
    } else {
      return io;
    }
  }
}

SockResult TPowersock::HandshakeFailed(std::string why, bool certificate) {
  StopTimer();
  SecureFailure = std::move(why);
  CertificateRefused = certificate;
  return Fail("TLS Handshake Failed");
}

SockResult TPowersock::StartTls() {
  SecureFailure.clear();
  CertificateRefused = false;
  std::string error;
  const TlsContext* context = SharedTlsContext(CaFile, error);
  if (context == nullptr) return HandshakeFailed(error, false);
  tls_.reset(CreateTlsSession(*context, Host, Port, error));
  if (!tls_) return HandshakeFailed(error, false);

  StartTimer();
  for (;;) {
    const TlsStep step = TlsHandshake(*tls_);
    const Io flushed = FlushTls();
    if (flushed == Io::kCanceled) break;
    if (flushed == Io::kFailed) return HandshakeFailed(io_failure_.error, false);
    if (step == TlsStep::kDone) {
      StopTimer();
      return {};
    }
    if (step != TlsStep::kWantInput) {
      return HandshakeFailed(TlsFailureReason(*tls_), TlsCertificateRefused(*tls_));
    }
    std::size_t got = 0;
    const Io io = tls_input_ended_ ? Io::kEnd : ReceiveRaw(buffer_.get(), kReceiveBufferSize, got);
    if (io == Io::kDone) {
      TlsFeed(*tls_, buffer_.get(), got);
    } else if (io == Io::kEnd) {
      if (tls_input_ended_) return HandshakeFailed("the server closed the connection", false);
      TlsFeedEnd(*tls_);
      tls_input_ended_ = true;
    } else if (io == Io::kCanceled) {
      break;
    } else {
      return HandshakeFailed(io_failure_.error, false);
    }
  }
  const bool timed_out = TimedOut;
  if (timed_out) SecureFailure = "no answer within the time-out";
  return Canceled(timed_out ? "TLS Handshake Timed out" : "TLS Handshake Canceled");
}

SockResult TPowersock::SendAll(std::string_view bytes, bool timed, bool counts_as_file) {
  if (fd_ < 0 || !connected_) return SocketError(ENOTCONN);
  if (timed) StartTimer();
  Io io = Io::kDone;
  if (!tls_) {
    io = SendRaw(bytes, counts_as_file);
  } else if (TlsWrite(*tls_, bytes) != TlsStep::kDone) {
    SecureFailure = TlsFailureReason(*tls_);
    io_failure_ = Fail("Secure connection failed: " + SecureFailure);
    io = Io::kFailed;
  } else {
    io = FlushTls();
    if (io == Io::kDone && counts_as_file) {
      BytesSent += static_cast<std::int64_t>(bytes.size());
      events_->OnPacketSent();
    }
  }
  if (io == Io::kCanceled) return Canceled("Socket send aborted");
  StopTimer();
  if (io == Io::kFailed) return io_failure_;
  return {};
}

SockResult TPowersock::Write(std::string_view text) {
  Report(kStatusTrace, "Write");
  Report(kStatusInfo, "Sending Buffer");
  return SendAll(text, true, false);
}

SockResult TPowersock::Writeln(std::string_view text) {
  Report(kStatusTrace, "Writeln");
  Report(kStatusInfo, "Sending Buffer");
  std::string line(text);
  line += "\r\n";
  return SendAll(line, true, false);
}

SockResult TPowersock::SendFile(const std::string& path) {
  Report(kStatusTrace, "SendFile");
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return Fail("Cannot open " + path);
  SockResult result;
  for (;;) {
    const std::size_t n = std::fread(buffer_.get(), 1, kReceiveBufferSize, file);
    if (n > 0) {
      result = SendAll(std::string_view(buffer_.get(), n), false, true);
      if (!result.ok) break;
    }
    if (n < kReceiveBufferSize) {
      if (std::ferror(file)) result = Fail("Cannot read " + path);
      break;
    }
  }
  std::fclose(file);
  return result;
}

SockResult TPowersock::ReadLn(std::string& line, bool restart_countdown) {
  Report(kStatusTrace, "ReadLn");
  line.clear();
  if (fd_ < 0 && PendingSize() == 0) return {};
  if (restart_countdown) {
    StartTimer();
  } else {
    ResumeTimer();
  }
  std::size_t scanned = 0;  // bytes of Pending() known to hold no line feed
  for (;;) {
    if (canceled_) return Canceled("Socket readln aborted");
    const std::string_view pending = Pending();
    const std::size_t feed = pending.find('\n', scanned);
    if (feed != std::string_view::npos && feed < kMaxLineBytes) {
      line.assign(pending.substr(0, feed + 1));
      pending_at_ += feed + 1;
      break;
    }
    if (pending.size() >= kMaxLineBytes) {
      StopTimer();
      return Fail("Socket readln line longer than 65536 bytes");
    }
    scanned = pending.size();
    // Closed by the server: the read ends with what it has.
    const Io io = fd_ < 0 ? Io::kEnd : ReceiveMore();
    if (io == Io::kDone) continue;
    if (io == Io::kEnd) {
      line.assign(Pending());
      pending_at_ = pending_.size();
      break;
    }
    if (io == Io::kCanceled) return Canceled("Socket readln aborted");
    StopTimer();
    return io_failure_;
  }
  StopTimer();
  return {};
}

std::size_t LengthFraming::Take(std::string_view received, std::string& body, bool& complete) {
  if (left_ < 0) {
    body.append(received);
    return received.size();
  }
  const std::size_t take = static_cast<std::size_t>(
      std::min<std::int64_t>(left_, static_cast<std::int64_t>(received.size())));
  body.append(received.substr(0, take));
  left_ -= static_cast<std::int64_t>(take);
  complete = left_ == 0;
  return take;
}

SockResult TPowersock::Capture(std::FILE* file, const std::string& path, std::string* text,
                               std::int64_t limit, BodyFraming& framing) {
  BytesRecvd = 0;
  capture_end_ = CaptureEnd::kComplete;
  StartTimer();
  for (;;) {
    if (canceled_) return Canceled("Socket capture aborted");
    // A text with a limit takes no more bytes than it has room for: the rest stays unread.
    std::string_view received = Pending();
    if (text != nullptr && limit >= 0) {
      const std::int64_t room = limit - static_cast<std::int64_t>(text->size());
      if (room <= 0) {
        capture_end_ = CaptureEnd::kLimit;
        break;
      }
      received = received.substr(0, static_cast<std::size_t>(
                                         std::min<std::int64_t>(room, received.size())));
    }
    body_piece_.clear();
    bool complete = false;
    pending_at_ += framing.Take(received, body_piece_, complete);
    if (const std::string failure = framing.Failure(); !failure.empty()) {
      StopTimer();
      return Fail(failure);
    }
    if (!body_piece_.empty()) {
      const auto size = static_cast<std::int64_t>(body_piece_.size());
      if (file != nullptr && limit >= 0 && size > limit - BytesRecvd) {
        StopTimer();
        return Fail("Socket capture longer than " + std::to_string(limit) + " bytes");
      }
      if (file != nullptr &&
          std::fwrite(body_piece_.data(), 1, body_piece_.size(), file) != body_piece_.size()) {
        StopTimer();
        return Fail("Cannot write " + path);
      }
      if (text != nullptr) text->append(body_piece_);
      BytesRecvd += size;
      RestartTimer();
      events_->OnPacketRecvd();
      PumpIfDue();
    }
    if (complete) break;
    // Bytes left over that the framing did not take can only be those past a text's room.
    if (PendingSize() > 0) continue;
    const Io io = fd_ < 0 ? Io::kEnd : ReceiveMore();
    if (io == Io::kDone) continue;
    if (io == Io::kEnd) {
      // The server closed the connection: where nothing else ends the body, that ends it.
      capture_end_ = tls_cut_off_ ? CaptureEnd::kCutOff : CaptureEnd::kClosed;
      break;
    }
    if (io == Io::kCanceled) return Canceled("Socket capture aborted");
    StopTimer();
    return io_failure_;
  }
  StopTimer();
  return {};
}

SockResult TPowersock::CaptureInto(const std::string& path, std::int64_t limit,
                                   BodyFraming& framing) {
  Report(kStatusTrace, "CaptureFile");
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    BytesRecvd = 0;
    return Fail("Cannot create " + path);
  }
  SockResult result = Capture(file, path, nullptr, limit, framing);
  if (std::fclose(file) != 0 && result.ok) result = Fail("Cannot write " + path);
  return result;
}

SockResult TPowersock::CaptureFile(const std::string& path, std::int64_t limit,
                                   std::int64_t expected) {
  LengthFraming framing(expected);
  return CaptureInto(path, limit, framing);
}

SockResult TPowersock::CaptureFile(const std::string& path, std::int64_t limit,
                                   BodyFraming& framing) {
  return CaptureInto(path, limit, framing);
}

SockResult TPowersock::CaptureString(std::string& text, std::int64_t limit, std::int64_t expected) {
  LengthFraming framing(expected);
  return CaptureString(text, limit, framing);
}

SockResult TPowersock::CaptureString(std::string& text, std::int64_t limit, BodyFraming& framing) {
  Report(kStatusTrace, "Capture String");
  text.clear();
  return Capture(nullptr, std::string(), &text, limit, framing);
}

bool TPowersock::KeptConnectionUsable() {
  if (fd_ < 0 || !connected_ || PendingSize() > 0 || tls_input_ended_) return false;
  pollfd entry{fd_, POLLIN, 0};
  const int n = poll(&entry, 1, 0);
  if (n == 0) return true;  // idle and open
  if (n < 0 || !tls_) return false;  // closed, reset, or bytes nobody asked for
  // Under TLS the server may send messages of its own (session tickets): they are taken, and only
  // data, an alert or the end make the connection unusable.
  for (;;) {
    const ssize_t got = recv(fd_, buffer_.get(), kReceiveBufferSize, MSG_DONTWAIT);
    if (got == 0) return false;
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      if (errno == EINTR) continue;
      return false;
    }
    TlsFeed(*tls_, buffer_.get(), static_cast<std::size_t>(got));
  }
  std::size_t got = 0;
  const TlsStep step = TlsRead(*tls_, buffer_.get(), kReceiveBufferSize, got);
  if (step == TlsStep::kDone) pending_.append(buffer_.get(), got);
  return step == TlsStep::kWantInput && FlushTls() == Io::kDone;
}

}  // namespace http
