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

  private:
    void Start(const char *const *Arguments, bool ReadsPortLine);
    int PortNumber = 0;
    int Pid = -1;
    int Input = -1;
};

// A port on 127.0.0.1 that refuses connections (bound, then closed).
int RefusingPort();
