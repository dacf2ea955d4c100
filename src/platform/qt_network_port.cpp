#include "platform/qt_network_port.h"

#include <QDeadlineTimer>

#include "app/line_settings.h"
#include "base/run_error.h"

namespace r7::platform {

namespace {

// Writes to the server must be taken within this time.
constexpr int kWriteTimeoutMs = 5000;
// What arrives in the first moments of a connection is not for this job.
constexpr int kStaleInputQuietMs = 100;
constexpr int kStaleInputMaxMs = 1000;

std::string host_and_port(const NetworkDevice& d) {
  return written_host(d) + ":" + std::to_string(d.port);
}

}  // namespace

QtNetworkPort::~QtNetworkPort() {
  close();
}

void QtNetworkPort::require_open() const {
  if (!is_open()) throw RunError(err::kDeviceUnavailable, device_ + ": port is not open");
}

void QtNetworkPort::set_settings(const std::string& settings) {
  settings_ = settings;
  if (!is_open() || !telnet()) return;  // a raw connection keeps the server's settings
  const auto s = parse_line_settings(settings_);
  if (!s) throw RunError(err::kDeviceIo, device_ + ": the port refuses settings " + settings);
  send_raw(TelnetLine::settings_commands(*s), "settings");
}

void QtNetworkPort::fail_connect(const NetworkDevice& d) {
  const std::string where = host_and_port(d);
  std::string message;
  switch (socket_->error()) {
    case QAbstractSocket::HostNotFoundError:
      message = "The host " + d.host + " was not found (" + device_ + ").";
      break;
    case QAbstractSocket::ConnectionRefusedError:
      message = where + " refused the connection (" + device_ +
                "): no serial device server listens on that port.";
      break;
    case QAbstractSocket::SocketTimeoutError:
      message = where + " did not answer within " + std::to_string(kConnectTimeoutMs / 1000) +
                " seconds (" + device_ + ").";
      break;
    default:
      message = where + ": " + socket_->errorString().toStdString() + " (" + device_ + ").";
      break;
  }
  socket_.reset();
  throw RunError(err::kDeviceUnavailable, message);
}

void QtNetworkPort::open() {
  if (is_open()) return;
  address_ = parse_network_device(device_);
  if (!address_) {
    throw RunError(err::kDeviceUnavailable,
                   device_ +
                       " is not a network address: write rfc2217://HOST:PORT or "
                       "socket://HOST:PORT.");
  }
  const auto s = parse_line_settings(settings_);
  if (!s) {
    throw RunError(err::kDeviceUnavailable, device_ + ": settings cannot be used: " + settings_);
  }
  drop_input();
  socket_ = std::make_unique<QTcpSocket>();
  socket_->connectToHost(QString::fromStdString(address_->host), address_->port);
  if (!socket_->waitForConnected(kConnectTimeoutMs)) fail_connect(*address_);
  socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
  try {
    if (telnet()) {
      telnet_ = TelnetLine{};
      send_raw(telnet_.greeting() + TelnetLine::settings_commands(*s), "greeting");
    }
    discard_stale_input();
  } catch (const RunError& e) {
    socket_.reset();
    throw RunError(err::kDeviceUnavailable, e.what());
  }
}

// A server may pass on what the line carried just before the connection was
// made (the late reply to a request of an earlier connection): it is thrown
// away once the line has been quiet for a moment.
void QtNetworkPort::discard_stale_input() {
  QDeadlineTimer limit(kStaleInputMaxMs);
  QDeadlineTimer quiet(kStaleInputQuietMs);
  while (!limit.hasExpired() && !quiet.hasExpired()) {
    const std::size_t before = in_.size();
    socket_->waitForReadyRead(static_cast<int>(quiet.remainingTime()));
    take_in();
    if (in_.size() != before) quiet.setRemainingTime(kStaleInputQuietMs);
  }
  drop_input();
}

void QtNetworkPort::close() {
  if (socket_) socket_->abort();
  socket_.reset();
}

void QtNetworkPort::send_raw(const std::string& bytes, const char* what) {
  const auto size = static_cast<qint64>(bytes.size());
  if (socket_->write(bytes.data(), size) != size) {
    throw RunError(err::kDeviceIo,
                   device_ + ": " + what + " not taken: " + socket_->errorString().toStdString());
  }
  QDeadlineTimer deadline(kWriteTimeoutMs);
  while (socket_->bytesToWrite() > 0) {
    if (deadline.hasExpired() ||
        !socket_->waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
      if (socket_->bytesToWrite() == 0) break;
      throw RunError(err::kDeviceIo,
                     device_ + ": " + what + " not sent: " + socket_->errorString().toStdString());
    }
  }
}

void QtNetworkPort::take_in() {
  socket_->waitForReadyRead(0);
  const QByteArray got = socket_->readAll();
  if (!got.isEmpty()) {
    const std::string_view raw(got.constData(), static_cast<std::size_t>(got.size()));
    if (!telnet()) {
      in_.append(raw);
    } else {
      std::string answer;
      in_ += telnet_.decode(raw, answer);
      if (!answer.empty()) socket_->write(answer.data(), static_cast<qint64>(answer.size()));
      socket_->flush();
    }
  }
  if (in_pos_ < in_.size() || socket_->state() == QAbstractSocket::ConnectedState) return;
  const std::string why = socket_->error() == QAbstractSocket::RemoteHostClosedError
                              ? "the server closed the connection"
                              : socket_->errorString().toStdString();
  throw RunError(err::kDeviceIo, device_ + ": " + why);
}

std::size_t QtNetworkPort::bytes_waiting() {
  require_open();
  take_in();
  return in_.size() - in_pos_;
}

void QtNetworkPort::clear_input() {
  require_open();
  take_in();
  drop_input();
}

void QtNetworkPort::write(std::string_view bytes) {
  require_open();
  if (bytes.empty()) return;
  send_raw(telnet() ? TelnetLine::encode(bytes) : std::string(bytes), "write");
}

int QtNetworkPort::read_byte() {
  require_open();
  if (in_pos_ == in_.size()) take_in();
  if (in_pos_ == in_.size()) return -1;
  const auto b = static_cast<unsigned char>(in_[in_pos_++]);
  if (in_pos_ == in_.size()) drop_input();
  return b;
}

bool QtNetworkPort::wait_for_input(std::uint32_t ms) {
  require_open();
  QDeadlineTimer deadline(static_cast<qint64>(ms));
  for (;;) {
    take_in();
    if (in_pos_ < in_.size()) return true;
    if (deadline.hasExpired()) return false;
    // Telnet commands alone wake this without data: wait again for the rest.
    socket_->waitForReadyRead(static_cast<int>(deadline.remainingTime()));
  }
}

void QtDevicePort::set_device(const std::string& device_name) {
  const bool network = is_network_device_name(device_name);
  if (network != network_device_) close();
  network_device_ = network;
  active().set_device(device_name);
}

}  // namespace r7::platform
