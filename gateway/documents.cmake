# documents layer of libnvo (see CMakeLists.txt).
