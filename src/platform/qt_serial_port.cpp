#include "platform/qt_serial_port.h"

#include <QDeadlineTimer>
#include <QSerialPortInfo>

#include <cstdio>

#include "app/line_settings.h"
#include "base/run_error.h"
#include "platform/qt_network_port.h"

namespace r7::platform {

namespace {

// A write must be taken by the driver within its time on the wire twice over
// plus this margin.
constexpr int kWriteMarginMs = 1000;

QSerialPort::Parity parity_of(char letter) {
  switch (letter) {
    case 'E':
      return QSerialPort::EvenParity;
    case 'O':
      return QSerialPort::OddParity;
    case 'M':
      return QSerialPort::MarkParity;
    case 'S':
      return QSerialPort::SpaceParity;
    default:
      return QSerialPort::NoParity;
  }
}

std::string text(const QString& s) {
  return s.toStdString();
}

}  // namespace

QtSerialPort::~QtSerialPort() {
  close();
}

void QtSerialPort::require_open() const {
  if (!is_open()) throw RunError(err::kDeviceUnavailable, device_ + ": port is not open");
}

void QtSerialPort::check_error(const char* what) {
  const auto e = port_->error();
  if (e == QSerialPort::NoError || e == QSerialPort::TimeoutError) return;
  const std::string message = device_ + ": " + what + ": " + text(port_->errorString());
  port_->clearError();
  throw RunError(err::kDeviceIo, message);
}

bool QtSerialPort::apply_settings() {
  const auto s = parse_line_settings(settings_);
  if (!s) return false;
  return port_->setBaudRate(s->baud) && port_->setParity(parity_of(s->parity)) &&
         port_->setDataBits(static_cast<QSerialPort::DataBits>(s->data_bits)) &&
         port_->setStopBits(s->stop_bits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop) &&
         port_->setFlowControl(QSerialPort::NoFlowControl);
}

void QtSerialPort::set_settings(const std::string& settings) {
  settings_ = settings;
  if (!is_open()) return;
  port_->clearError();
  if (!apply_settings()) {
    port_->clearError();
    throw RunError(err::kDeviceIo, device_ + ": the port refuses settings " + settings);
  }
}

void QtSerialPort::open() {
  if (is_open()) return;
  // The port object belongs to the thread that opens it (a job's worker).
  port_ = std::make_unique<QSerialPort>();
  port_->setPortName(QString::fromStdString(device_));
  if (!apply_settings()) {
    port_.reset();
    throw RunError(err::kDeviceUnavailable, device_ + ": settings cannot be used: " + settings_);
  }
  if (!port_->open(QIODevice::ReadWrite)) {
    const std::string message = device_ + ": " + text(port_->errorString());
    port_.reset();
    throw RunError(err::kDeviceUnavailable, message);
  }
  // Some drivers take the line settings only once the port is open.
  if (!apply_settings()) {
    port_.reset();
    throw RunError(err::kDeviceUnavailable, device_ + ": settings cannot be used: " + settings_);
  }
}

void QtSerialPort::close() {
  port_.reset();  // closes the device
}

void QtSerialPort::take_in() {
  port_->clearError();
  port_->waitForReadyRead(0);
  check_error("read");
}

std::size_t QtSerialPort::bytes_waiting() {
  require_open();
  take_in();
  return static_cast<std::size_t>(port_->bytesAvailable());
}

void QtSerialPort::clear_input() {
  require_open();
  port_->clearError();
  if (!port_->clear(QSerialPort::Input)) check_error("clear");
}

void QtSerialPort::write(std::string_view bytes) {
  require_open();
  if (bytes.empty()) return;
  port_->clearError();
  const auto size = static_cast<qint64>(bytes.size());
  if (port_->write(bytes.data(), size) != size) {
    check_error("write");
    throw RunError(err::kDeviceIo, device_ + ": write not taken");
  }
  const auto s = parse_line_settings(settings_);
  const double wire_ms = static_cast<double>(bytes.size()) * char_time_ms(s ? s->baud : 300);
  QDeadlineTimer deadline(static_cast<qint64>(2 * wire_ms) + kWriteMarginMs);
  while (port_->bytesToWrite() > 0) {
    if (deadline.hasExpired() ||
        !port_->waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
      if (port_->bytesToWrite() == 0) break;
      check_error("write");
      throw RunError(err::kDeviceIo, device_ + ": write did not complete in time");
    }
  }
}

int QtSerialPort::read_byte() {
  require_open();
  if (port_->bytesAvailable() == 0) take_in();
  char c = 0;
  if (!port_->getChar(&c)) return -1;
  return static_cast<unsigned char>(c);
}

bool QtSerialPort::wait_for_input(std::uint32_t ms) {
  require_open();
  if (port_->bytesAvailable() > 0) return true;
  port_->clearError();
  if (port_->waitForReadyRead(static_cast<int>(ms))) return true;
  check_error("wait");
  return port_->bytesAvailable() > 0;
}

std::unique_ptr<SerialPort> QtPortFactory::create_port() {
  return std::make_unique<QtDevicePort>();
}

std::vector<PortInfo> available_ports() {
  std::vector<PortInfo> result;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    PortInfo p;
    p.name = text(info.portName());
    p.location = text(info.systemLocation());
    p.description = text(info.description());
    p.manufacturer = text(info.manufacturer());
    if (info.hasVendorIdentifier() && info.hasProductIdentifier()) {
      char id[16];
      std::snprintf(id, sizeof id, "%04x:%04x", info.vendorIdentifier(), info.productIdentifier());
      p.usb_id = id;
    }
    result.push_back(std::move(p));
  }
  return result;
}

}  // namespace r7::platform
