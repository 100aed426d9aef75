# engine layer of libnvo (see CMakeLists.txt).
