// A scriptable stand-in for the desktop application: it listens on run/cli.sock in a data
// directory on a thread of the test process and plays one script per accepted connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pendrel::testing {

// One step of a connection script.
struct PeerAction {
  enum class Kind {
    read_frame,   // read one frame (length prefix and payload) and record its payload
    send_frame,   // send `bytes` as a frame (correct length prefix)
    send_raw,     // send `bytes` exactly as given (broken prefixes, oversized lengths...)
    close,        // close the connection now
    wait,         // sleep `delay`
    read_to_end,  // read and discard until the client closes
  };
  Kind kind = Kind::read_frame;
  std::string bytes;
  std::chrono::milliseconds delay{0};

  static PeerAction read() { return {Kind::read_frame, {}, {}}; }
  static PeerAction send(std::string payload) { return {Kind::send_frame, std::move(payload), {}}; }
  static PeerAction raw(std::string bytes) { return {Kind::send_raw, std::move(bytes), {}}; }
  static PeerAction hang_up() { return {Kind::close, {}, {}}; }
  static PeerAction pause(std::chrono::milliseconds delay) { return {Kind::wait, {}, delay}; }
  static PeerAction drain() { return {Kind::read_to_end, {}, {}}; }
};

using PeerScript = std::vector<PeerAction>;

// The answer bytes of a usual handshake.
inline constexpr const char* default_welcome =
    R"({"type":"welcome","data":{"protocol":1,"appVersion":"9.9.9"}})";

// Read the Hello, send the Welcome, read the request, send `answer` (a JSON payload).
[[nodiscard]] PeerScript answer_with(std::string answer);

// A 4-byte big-endian length prefix.
[[nodiscard]] std::string length_prefix(std::uint32_t length);

class FakePeer {
 public:
  // Creates <data_dir>/run and listens on <data_dir>/run/cli.sock. Every accepted connection
  // plays the next script; after the last script, further connections play it again.
  FakePeer(std::string data_dir, std::vector<PeerScript> scripts);
  ~FakePeer();  // stops listening, removes the socket file, joins the thread
  FakePeer(const FakePeer&) = delete;
  FakePeer& operator=(const FakePeer&) = delete;

  // Payloads of every frame received, across connections, in order.
  [[nodiscard]] std::vector<std::string> received() const;
  [[nodiscard]] int connections() const;

  // Waits until `count` frames were received or the timeout passes.
  bool wait_for_frames(std::size_t count, std::chrono::milliseconds timeout) const;

 private:
  void serve();

  std::string socket_path_;
  std::vector<PeerScript> scripts_;
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  mutable std::mutex mutex_;
  std::vector<std::string> received_;
  int connections_ = 0;
  std::thread thread_;
};

}  // namespace pendrel::testing
