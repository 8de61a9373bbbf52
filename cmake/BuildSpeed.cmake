# Build time: precompiled headers parse the heavy headers (Qt, CLI11, nlohmann-json, GoogleTest) once per
# group of targets instead of once per source, and unity builds compile each test program's sources as one
# (and the command-line library's as two). Both work with and without ccache and with the sanitizers;
# TESSOR_PCH=OFF and TESSOR_UNITY=OFF build without them (to find a missing include, for example).
option(TESSOR_PCH "Precompile the heavy headers" ON)
option(TESSOR_UNITY "Compile each test program's sources, and the command-line library's, as unity sources" ON)

# What most window sources include; every target that shares the header has the same code generation
# flags (-fPIC: Qt asks for it in every target that links it), so one compiled header serves them all.
set(TESSOR_PCH_QT
    <QApplication> <QComboBox> <QDialog> <QDir> <QFile> <QHBoxLayout> <QKeyEvent> <QLabel> <QLineEdit>
    <QListWidget> <QMessageBox> <QObject> <QPushButton> <QSettings> <QString> <QStringList> <QTabWidget>
    <QThread> <QTimer> <QVBoxLayout> <QWidget>)
set(TESSOR_PCH_STD <atomic> <chrono> <functional> <memory> <mutex> <string> <thread> <vector>)

# tessor_precompile(<target> <header>...): the target's own compiled header.
function(tessor_precompile target)
    if(TESSOR_PCH)
        target_precompile_headers(${target} PRIVATE ${ARGN})
    endif()
endfunction()

# tessor_precompile_like(<producer> <target>...): the targets use the producer's compiled header.
function(tessor_precompile_like producer)
    if(TESSOR_PCH)
        foreach(target IN LISTS ARGN)
            target_precompile_headers(${target} REUSE_FROM ${producer})
        endforeach()
    endif()
endfunction()

# tessor_speed_up_tests(<qt producer> <plain producer> <directory>...): every test program made in these
# directories is a unity build and uses the compiled header of its kind: the window tests that of the Qt
# test main, the others that of a plain GoogleTest program.
function(tessor_speed_up_tests qt_producer plain_producer)
    foreach(dir IN LISTS ARGN)
        get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
        foreach(target IN LISTS targets)
            get_target_property(type ${target} TYPE)
            if(NOT type STREQUAL "EXECUTABLE" OR NOT target MATCHES "^test_")
                continue()
            endif()
            if(TESSOR_UNITY)
                set_target_properties(${target} PROPERTIES UNITY_BUILD ON)
            endif()
            get_target_property(libs ${target} LINK_LIBRARIES)
            if(target STREQUAL plain_producer)
                continue()
            elseif(qt_producer AND "tessor_qt_test_main" IN_LIST libs)
                tessor_precompile_like(${qt_producer} ${target})
            else()
                tessor_precompile_like(${plain_producer} ${target})
            endif()
        endforeach()
    endforeach()
endfunction()
