#pragma once

// libcurl's one start for the whole process, shared by the page fetcher and
// the TLS mail session.
class CurlLibrary
{
public:
    // Starts libcurl (and the TLS library under it) once; true when it is
    // ready. Safe to call from any thread, any number of times.
    static bool Ready();
};
