// Symbol visibility of libvokra. The library is built with hidden visibility; what carries
// VOKRA_API is its public interface. The same sources compiled into the daemons' static support
// library need no export, and there the macro expands to the same attribute harmlessly.
#ifndef CLIENT_VOKRA_EXPORT_H_
#define CLIENT_VOKRA_EXPORT_H_

#define VOKRA_API __attribute__((visibility("default")))

#endif  // CLIENT_VOKRA_EXPORT_H_
