#include "support/TlsFront.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

bool Run(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace

bool TlsFront::MakeCertificates(const std::string& folder, Certificates& out)
{
    const std::string ssl = "/usr/bin/openssl";
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    out.caFile = folder + "/ca.pem";
    out.signedCert = folder + "/server.pem";
    out.signedKey = folder + "/server.key";
    out.selfCert = folder + "/self.pem";
    out.selfKey = folder + "/self.key";
    out.expiredCert = folder + "/expired.pem";
    out.expiredKey = folder + "/expired.key";
    std::ofstream(folder + "/ext.cnf") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    // `openssl ca` is the one way to set a validity that ended long ago.
    std::ofstream(folder + "/index.txt");
    std::ofstream(folder + "/serial") << "01\n";
    std::ofstream(folder + "/ca.cnf")
        << "[ca]\ndefault_ca=d\n[d]\ndatabase=" << folder << "/index.txt\nnew_certs_dir=" << folder
        << "\nserial=" << folder
        << "/serial\ndefault_md=sha256\npolicy=p\ncopy_extensions=copy\n[p]\ncommonName=supplied\n";
    return Run(ssl + " req -x509" + ec + " -days 2 -subj /CN=KestrelleTestCA -keyout " + folder +
               "/ca.key -out " + out.caFile) &&
           Run(ssl + " req" + ec + " -subj /CN=127.0.0.1 -keyout " + out.signedKey + " -out " +
               folder + "/server.csr") &&
           Run(ssl + " x509 -req -days 2 -in " + folder + "/server.csr -CA " + out.caFile +
               " -CAkey " + folder + "/ca.key -CAcreateserial -extfile " + folder +
               "/ext.cnf -out " + out.signedCert) &&
           Run(ssl + " req -x509" + ec + " -days 2 -subj /CN=127.0.0.1" +
               " -addext subjectAltName=IP:127.0.0.1 -keyout " + out.selfKey + " -out " +
               out.selfCert) &&
           Run(ssl + " req" + ec + " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1" +
               " -keyout " + out.expiredKey + " -out " + folder + "/expired.csr") &&
           Run(ssl + " ca -batch -notext -config " + folder + "/ca.cnf -cert " + out.caFile +
               " -keyfile " + folder + "/ca.key -in " + folder + "/expired.csr" +
               " -startdate 20200101000000Z -enddate 20200102000000Z -out " + out.expiredCert);
}

bool TlsFront::MakeSigned(const std::string& folder, int days, const std::string& cert,
                          const std::string& key)
{
    const std::string ssl = "/usr/bin/openssl";
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string newKey = key + ".new", newCert = cert + ".new", csr = cert + ".csr";
    return Run(ssl + " req" + ec + " -subj /CN=127.0.0.1 -keyout " + newKey + " -out " + csr) &&
           Run(ssl + " x509 -req -days " + std::to_string(days) + " -in " + csr + " -CA " + folder +
               "/ca.pem -CAkey " + folder + "/ca.key -CAcreateserial -extfile " + folder +
               "/ext.cnf -out " + newCert) &&
           std::rename(newKey.c_str(), key.c_str()) == 0 &&
           std::rename(newCert.c_str(), cert.c_str()) == 0;
}

TlsFront::TlsFront(const std::string& cert, const std::string& key, std::uint16_t backendPort)
{
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string script = std::string(KESTRELLE_TEST_DATA_DIR) + "/tls_front.py";
    const std::string port = std::to_string(backendPort);
    std::vector<char*> argv = {const_cast<char*>(KESTRELLE_SYSTEM_PYTHON),
                               const_cast<char*>(script.c_str()),
                               const_cast<char*>(cert.c_str()),
                               const_cast<char*>(key.c_str()),
                               const_cast<char*>(port.c_str()),
                               nullptr};
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, KESTRELLE_SYSTEM_PYTHON, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    if (spawned != 0) {
        close(in[1]);
        close(out[0]);
        return;
    }
    m_pid = pid;
    m_stdin = in[1];
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(out[0]);
    m_port = static_cast<std::uint16_t>(std::atoi(line.c_str()));
}

TlsFront::~TlsFront()
{
    if (m_stdin >= 0)
        close(m_stdin); // the script ends when its input closes
    if (m_pid > 0) {
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
}

std::string TlsFront::url(const std::string& path) const
{
    return "https://127.0.0.1:" + std::to_string(m_port) + path;
}
