#pragma once

#include <QString>

// A channel for the program that started the server (Quillon's main window): one compact JSON
// object per line on a file descriptor the server inherited (--status-fd N), so that program never
// has to read the log lines meant for people.
//
//   {"statusPort":N,"rtspPort":M}   once the server listens: its /status endpoint and RTSP port
//   {"fatal":"TEXT"}                the server could not start and ends: why
//
// Writes never block the server: the descriptor is non-blocking, and a line the reader has no room
// for is dropped. Each line is shorter than PIPE_BUF, so it arrives whole or not at all.
namespace StatusPipe {
// Takes over `fd`; false with *error when it is not an open descriptor.
bool open(int fd, QString *error);
bool isOpen();
void announce(int statusPort, int rtspPort);
void fatal(const QString &text);
} // namespace StatusPipe
