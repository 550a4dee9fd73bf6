// The shared scripted peer: byte-exact replies, recorded heads, stalls that stop() ends.
#include "RawPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// A plain blocking client with a receive deadline.
class Client {
public:
    explicit Client(std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { ::close(fd_); }

    bool connected() const { return connected_; }
    void send(const std::string& bytes) { (void)!::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

    // Everything until the peer closes; stops at the deadline with closed = false.
    std::string readUntilClosed(bool& closed, int deadlineMs = 5000) {
        std::string received;
        char chunk[4096];
        closed = false;
        pollfd entry{fd_, POLLIN, 0};
        while (::poll(&entry, 1, deadlineMs) > 0) {
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                closed = true;
                break;
            }
            received.append(chunk, static_cast<std::size_t>(n));
        }
        return received;
    }

    // Waits (up to 5 s) for count bytes.
    std::string readBytes(std::size_t count) {
        std::string received;
        char chunk[4096];
        pollfd entry{fd_, POLLIN, 0};
        while (received.size() < count && ::poll(&entry, 1, 5000) > 0) {
            const ssize_t n = ::recv(fd_, chunk, std::min(sizeof chunk, count - received.size()), 0);
            if (n <= 0) break;
            received.append(chunk, static_cast<std::size_t>(n));
        }
        return received;
    }

private:
    int fd_;
    bool connected_ = false;
};

TEST(RawPeer, PlaysTheScriptAndRecordsEachHead) {
    RawPeer peer({RawPeer::send("HTTP/1.0 200 OK\r\n\r\n"), RawPeer::send("hello"), RawPeer::close()});
    for (const char* path : {"/one", "/two"}) {
        Client client(peer.port());
        ASSERT_TRUE(client.connected());
        client.send(std::string("GET ") + path + " HTTP/1.0\r\nHost: x\r\n\r\n");
        bool closed = false;
        EXPECT_EQ(client.readUntilClosed(closed), "HTTP/1.0 200 OK\r\n\r\nhello");
        EXPECT_TRUE(closed);
    }
    EXPECT_EQ(peer.connectionCount(), 2u);
    ASSERT_EQ(peer.requests().size(), 2u);
    EXPECT_EQ(peer.requests()[0], "GET /one HTTP/1.0\r\nHost: x\r\n\r\n");
    EXPECT_EQ(peer.lastRequest(), "GET /two HTTP/1.0\r\nHost: x\r\n\r\n");
}

TEST(RawPeer, WaitForCloseEndsWhenTheClientLeaves) {
    RawPeer peer({RawPeer::send("partial"), RawPeer::waitForClose(), RawPeer::send("never seen")});
    {
        Client client(peer.port());
        client.send("GET / HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(peer.waitForConnections(1));
    }
    Client second(peer.port());
    second.send("GET /again HTTP/1.1\r\n\r\n");
    EXPECT_EQ(second.readBytes(7), "partial") << "the peer serves the next connection";
    peer.stop();
    bool closed = false;
    EXPECT_EQ(second.readUntilClosed(closed), "") << "stop() cut the wait short";
    EXPECT_TRUE(closed);
}

TEST(RawPeer, StallHoldsTheConnectionUntilStop) {
    RawPeer peer({RawPeer::send("head"), RawPeer::stall()});
    Client client(peer.port());
    client.send("GET / HTTP/1.1\r\n\r\n");
    EXPECT_EQ(client.readBytes(4), "head");
    EXPECT_EQ(peer.lastRequest(), "GET / HTTP/1.1\r\n\r\n");
    peer.stop();
    bool closed = false;
    EXPECT_EQ(client.readUntilClosed(closed), "");
    EXPECT_TRUE(closed);
}

}  // namespace
