// Local HTTP peers for the HTTP client's tests, started on 127.0.0.1 with a
// port the system chooses: tests/peers/httppeer.py, or Python's own
// "http.server" serving a directory. The peer ends with the object.
#pragma once

#include <string>

class HttpPeer {
  public:
    // The scripted peer.
    HttpPeer();
    // python3 -m http.server over Directory.
    explicit HttpPeer(const std::string &Directory);
    ~HttpPeer();
    HttpPeer(const HttpPeer &) = delete;
    HttpPeer &operator=(const HttpPeer &) = delete;

    int Port() const { return PortNumber; }
    // "http://127.0.0.1:<port>" followed by Path.
    std::string Url(const std::string &Path) const;
    // Waits until the peer prints Line (the scripted peer prints
    // "WAITING <path>" once a request that is never answered has arrived);
    // false when it did not within Seconds, or the peer ended.
    bool WaitForLine(const std::string &Line, double Seconds = 10);

  private:
    void Start(const char *const *Arguments, bool ReadsPortLine);
    bool ReadLine(std::string &Line, double Seconds);
    int PortNumber = 0;
    int Pid = -1;
    int Input = -1;
    int Output = -1;     // the peer's standard output, read line by line
    std::string Pending; // read from Output, not yet taken as a line
};

// A port on 127.0.0.1 that refuses connections while the object lives: its
// socket is bound and never listens, so no other program can take the port.
class RefusingPort {
  public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort &) = delete;
    RefusingPort &operator=(const RefusingPort &) = delete;
    int Port() const { return PortNumber; }

  private:
    void Open();
    int Socket = -1;
    int PortNumber = 0;
};
