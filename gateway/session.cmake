# session layer of libnvo (see CMakeLists.txt).
