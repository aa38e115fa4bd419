"""TLS front for tests: accepts TLS on 127.0.0.1 (port chosen by the system,
printed on the first line of standard output) and passes the plain bytes to
a backend port on 127.0.0.1, so a scripted plain server answers HTTPS.

Usage: tls_front.py CERT KEY BACKEND_PORT. Ends when standard input closes.
Certificate and key files replaced on disk are served from the next
connection on, as a server reloads a renewed certificate.
"""
import os
import socket
import ssl
import sys
import threading


def pump(source, target):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            target.sendall(data)
    except OSError:
        pass
    finally:
        try:
            target.shutdown(socket.SHUT_WR)
        except OSError:
            pass


def serve(client, backend_port):
    try:
        backend = socket.create_connection(("127.0.0.1", backend_port))
    except OSError:
        client.close()
        return
    back = threading.Thread(target=pump, args=(backend, client), daemon=True)
    back.start()
    pump(client, backend)
    back.join()
    client.close()
    backend.close()


def main():
    cert, key, backend_port = sys.argv[1], sys.argv[2], int(sys.argv[3])
    loaded = {"stamp": None, "context": None}

    def current_context():
        stamp = (os.stat(cert).st_mtime_ns, os.stat(key).st_mtime_ns)
        if stamp != loaded["stamp"]:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(cert, key)
            loaded["stamp"], loaded["context"] = stamp, context
        return loaded["context"]

    current_context()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)

    def accept_loop():
        while True:
            raw, _ = listener.accept()
            try:
                raw.settimeout(5)
                client = current_context().wrap_socket(raw, server_side=True)
                client.settimeout(None)
            except (OSError, ssl.SSLError):
                raw.close()  # a client that refused our certificate
                continue
            threading.Thread(target=serve, args=(client, backend_port), daemon=True).start()

    threading.Thread(target=accept_loop, daemon=True).start()
    sys.stdin.read()


if __name__ == "__main__":
    main()
