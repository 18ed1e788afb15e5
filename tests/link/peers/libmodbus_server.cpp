// An independent Modbus TCP peer for the link tests: libmodbus's TCP server on 127.0.0.1,
// input registers i = (31 * i + 5) mod 65536, holding registers that take writes; it serves
// one connection after another until killed.
// Usage: vaduz-test-libmodbus-server PORT

#include <modbus.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

int main(int argc, char **argv) {
    if (argc != 2)
        return 2;
    modbus_t *ctx = modbus_new_tcp("127.0.0.1", std::atoi(argv[1]));
    modbus_mapping_t *map = modbus_mapping_new(0, 0, 400, 400);
    if (!ctx || !map)
        return 1;
    for (int i = 0; i < 400; ++i)
        map->tab_input_registers[i] = static_cast<uint16_t>((31 * i + 5) % 65536);
    int server = modbus_tcp_listen(ctx, 1);
    if (server < 0) {
        std::fprintf(stderr, "listen: %s\n", modbus_strerror(errno));
        return 1;
    }
    for (;;) {
        if (modbus_tcp_accept(ctx, &server) < 0)
            return 1;
        for (;;) {
            uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
            const int rc = modbus_receive(ctx, query);
            if (rc > 0)
                modbus_reply(ctx, query, rc, map);
            else if (rc == -1)
                break;
        }
        modbus_close(ctx); // the connection; the listening socket stays
    }
}
