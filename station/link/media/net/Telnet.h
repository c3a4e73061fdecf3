#pragma once
// Telnet link to a terminal server in front of the instrument: a binary, character-at-a-time connection;
// data bytes 255 are doubled on the way out and telnet commands are taken out on the way in.
#include <bitset>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "station/link/media/net/IPClient.h"

namespace Telnet {
constexpr unsigned char IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, GA = 249, EL = 248,
                        EC = 247, AYT = 246, AO = 245, IP = 244, BRK = 243, SE = 240;
constexpr unsigned char TELOPT_BINARY = 0, TELOPT_ECHO = 1, TELOPT_SGA = 3, TELOPT_EOR = 25;
} // namespace Telnet

// Where the replies to the server's negotiation lie in the stream of bytes queued to send, so that
// they alone count against the bound on what the client holds: the owner's own data never does.
class TReplyBacklog {
public:
    void Reset();
    // Bytes appended to the outgoing stream, replies or not.
    void Queued(size_t count, bool reply);
    // Reply bytes among the last `unsent` bytes of the stream (those not yet taken by the kernel).
    size_t Unsent(size_t unsent);

private:
    struct TSpan {
        uint64_t End;  // stream position after the span's last byte
        size_t Size;
    };
    uint64_t FTotal = 0;
    std::deque<TSpan> FSpans;
    size_t FBytes = 0;
};

class TTelnetClient : public TIPClient {
public:
    enum : uint8_t { tsIdle, tsConnecting, tsNegotiating, tsReady, tsClosingPending, tsClosing, tsClosed, tsError };

    TTelnetClient();

    uint8_t State = tsIdle;
    std::bitset<256> OurEnabled, PeerEnabled, OurRefused, PeerRefused;
    std::string Pending;
    uint16_t ErrorCode = 0;
    std::string ErrorText;

    std::string GetDefaultPort() override { return "22"; }
    bool Connect() override;
    bool Close() override;
    bool Abort() override;
    int Send(const char* data, int count) override;
    bool Connected() override;
    bool Connecting() override;
    void SessionConnected(uint16_t error) override;
    void SessionClosed(uint16_t error) override;
    void DataAvailable(uint16_t error) override;
    // One received chunk: telnet commands are answered and taken out, the data goes to OnData.
    void Received(const char* data, int count);

    virtual void SendPending();
    virtual void DataSent(uint16_t error);
    virtual void OptionReceived(unsigned char command, unsigned char option);
    virtual void SubOptionReceived(unsigned char option);
    virtual void CommandBRK() {}
    virtual void CommandIP() {}
    virtual void CommandAO();
    virtual void CommandAYT() {}
    virtual void CommandEC() {}
    virtual void CommandEL() {}
    virtual void CommandGA() {}

    // Sends (immediate) or queues raw bytes; the count taken, 0 when the socket is not connected.
    int SendRaw(const char* data, int count, bool immediate);
    void SendOptionCommand(unsigned char command, unsigned char option, bool immediate);
    // Sub-negotiation IAC SB option <bytes> IAC SE, with 255 doubled inside.
    int SendSubOption(unsigned char option, const std::string& bytes, bool immediate);

    // Bytes the client holds to send: the socket's queue and the text it has not taken yet.
    size_t QueuedBytes() const;
    // Of those, the replies to the server's negotiation.
    size_t QueuedReplyBytes();
    // Every received option may ask for a reply. Past this many reply bytes queued the client reads no
    // more from the socket until they have gone, so a server that sends options and never reads the
    // replies is held back by the connection itself instead of filling the memory. The owner's data
    // does not count: a server that answers it before reading more must be read while it is sent.
    static constexpr size_t kQueuedLimit = 256 * 1024;
    // The most taken from the socket in one read (the replies to one read can be as long as the read).
    static constexpr int kReadPass = 64 * 1024;
    bool ReadingHeld() const { return FReadingHeld; }

protected:
    bool SocketConnected() const;
    // Negotiation queued at the connection; the remote serial port adds its own option first.
    virtual void QueueNegotiation();
    // Replies to WILL/DO of an option we accept, or refuses it.
    void AcceptOption(unsigned char command, unsigned char option);
    void RefuseOption(unsigned char command, unsigned char option);
    void Deliver(const std::string& bytes);

    // Receive parser.
    bool FAfterIAC = false;
    bool FAwaitOption = false;
    bool FInSub = false;
    bool FSubIAC = false;
    // The sub-negotiation's bytes, at most kSubTextKept of them: the options read only the first,
    // and a peer that never ends its sub-negotiation must not fill the memory.
    static constexpr size_t kSubTextKept = 64;
    std::string SubText;
    // Replies made while a received chunk is parsed go out together at its end: one send, one
    // sent-notice, however many options the chunk held.
    bool FBatchReplies = false;
    bool FRepliesQueued = false;
    void FlushReplies();
    // Data that arrived before the link was reported ready.
    std::string FEarly;
    // Reading stopped until the replies have gone (see kQueuedLimit).
    bool FReadingHeld = false;
    TReplyBacklog FReplies;
    // Takes one read from the socket and parses it, unless too many replies wait to be sent.
    void ReadPass();
    // Each piece the socket sends may take the replies under the bound: reading is tried again after
    // the socket's sending has returned (it must not parse, and so queue, in the middle of it).
    bool FReadRetryPosted = false;
    void RetryReadingLater();
    // While reading is held the socket reports nothing, not even the server's close: a watch looks
    // for it, and the server's last bytes are then read whatever the replies queued.
    bool FHangUpWatchPosted = false;
    void WatchForHangUp();
    // Reads and parses all the socket holds; the replies to it are not sent (the connection ends).
    void DeliverTheRest();
    bool FDeliveringTheRest = false;
    // Reading held on a link still up and ready (the two waits above act only then).
    bool ReadingHeldOnALiveLink() const;
    // Runs `step` once after `ms` while reading is held on a live link; one post at a time under `posted`.
    void PostWhileHeld(bool& posted, int ms, std::function<void()> step);
    int QueueRaw(const char* data, int count, bool immediate, bool reply);
};

class TMediaTelnet : public TMediaIP {
public:
    explicit TMediaTelnet(QObject* owner = nullptr);
    int CreateClient() override;
};
