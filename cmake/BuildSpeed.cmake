# Build time. Most of what each file compiles is Qt's headers, so they are precompiled once for
# each group of targets that sees the same Qt modules from the same folder (the same compile
# definitions, which a precompiled header must share with its users), and every other target of
# the group reuses the first one's. Each group gets the headers of its own modules only, so a
# Core-only library still fails to compile when it reaches for a widget.
#
# ccache, when installed and no launcher was chosen, caches the compiler's output; it is told that
# precompiled headers are in use (without that it compiles every such file uncached).

find_program(VELLOA_CCACHE ccache)
if(NOT CMAKE_CXX_COMPILER_LAUNCHER AND VELLOA_CCACHE)
    set(CMAKE_CXX_COMPILER_LAUNCHER "${VELLOA_CCACHE}")
endif()
if(CMAKE_CXX_COMPILER_LAUNCHER MATCHES "ccache$")
    set(CMAKE_CXX_COMPILER_LAUNCHER "${CMAKE_COMMAND}" -E env
        "CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime"
        ${CMAKE_CXX_COMPILER_LAUNCHER})
    # clang writes the header's time into a precompiled header, which ccache cannot hash.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        add_compile_options("SHELL:-Xclang -fno-pch-timestamp")
    endif()
endif()

# lld links the many test programs several times faster than the default linker.
include(CheckLinkerFlag)
check_linker_flag(CXX "-fuse-ld=lld" VELLOA_HAVE_LLD)
if(VELLOA_HAVE_LLD)
    add_link_options(-fuse-ld=lld)
endif()

set(VELLOA_PCH_Core <QByteArray> <QString> <QStringList> <QList> <QHash> <QMap> <QSet>
    <QObject> <QPointer> <QTimer> <QDate> <QDateTime> <QFile> <QDir> <QFileInfo>
    <QJsonDocument> <QJsonObject> <QJsonArray> <QUrl> <QCoreApplication>)
set(VELLOA_PCH_Network <QNetworkAccessManager> <QNetworkReply> <QNetworkRequest> <QTcpServer>
    <QTcpSocket>)
set(VELLOA_PCH_Gui <QColor> <QFont> <QFontMetricsF> <QImage> <QPainter> <QPixmap>
    <QGuiApplication>)
set(VELLOA_PCH_Widgets <QWidget> <QApplication> <QAction> <QMenu> <QScrollArea> <QScrollBar>
    <QMessageBox> <QPushButton> <QSystemTrayIcon>)
set(VELLOA_PCH_Test <QtTest>)

# The Qt modules whose compile definitions reach TARGET: its own links, then the public links of
# our libraries below it.
function(velloa_qt_modules target outVar)
    set(queue ${target})
    set(seen)
    set(modules)
    set(first TRUE)
    while(queue)
        list(POP_FRONT queue item)
        if(item IN_LIST seen OR item MATCHES "^\\$<LINK_ONLY:")
            continue()
        endif()
        list(APPEND seen ${item})
        if(item MATCHES "^Qt6::(Core|Gui|Widgets|Network|Test)$")
            list(APPEND modules ${CMAKE_MATCH_1})
            continue()
        endif()
        if(NOT TARGET ${item})
            continue()
        endif()
        get_target_property(imported ${item} IMPORTED)
        if(imported)
            continue()
        endif()
        if(first)
            get_target_property(links ${item} LINK_LIBRARIES)
            set(first FALSE)
        else()
            get_target_property(links ${item} INTERFACE_LINK_LIBRARIES)
        endif()
        if(links)
            list(APPEND queue ${links})
        endif()
    endwhile()
    if("Widgets" IN_LIST modules)
        list(APPEND modules Gui)
    endif()
    if(modules)
        list(APPEND modules Core)
    endif()
    list(REMOVE_DUPLICATES modules)
    list(SORT modules)
    set(${outVar} ${modules} PARENT_SCOPE)
endfunction()

function(velloa_collect_targets dir outVar)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(sub IN LISTS subdirs)
        velloa_collect_targets(${sub} more)
        list(APPEND targets ${more})
    endforeach()
    set(${outVar} ${targets} PARENT_SCOPE)
endfunction()

# AUTOMOC costs every target a scan step and a compiled file even when it has nothing for moc,
# so it is left on only for targets whose own sources declare a Qt meta-object. Called once,
# after every target is defined. The libraries include their moc output at the end of the
# matching .cpp, where it compiles with that file's precompiled header instead of in a file of
# its own without one.
function(velloa_automoc_where_needed)
    velloa_collect_targets(${PROJECT_SOURCE_DIR} targets)
    foreach(target IN LISTS targets)
        get_target_property(automoc ${target} AUTOMOC)
        get_target_property(type ${target} TYPE)
        if(NOT automoc OR type STREQUAL "INTERFACE_LIBRARY")
            continue()
        endif()
        get_target_property(sources ${target} SOURCES)
        get_target_property(dir ${target} SOURCE_DIR)
        set(needed FALSE)
        foreach(source IN LISTS sources)
            get_filename_component(path "${source}" ABSOLUTE BASE_DIR "${dir}")
            if(NOT EXISTS "${path}")
                continue()
            endif()
            file(STRINGS "${path}" hits REGEX "Q_(OBJECT|GADGET|NAMESPACE)" LIMIT_COUNT 1)
            if(hits)
                set(needed TRUE)
                break()
            endif()
        endforeach()
        if(NOT needed)
            set_target_properties(${target} PROPERTIES AUTOMOC OFF)
        endif()
    endforeach()
endfunction()

# Each of a library's files pays for the precompiled header's load and compiles the same inline
# Qt code again, so a library of several files is compiled as one or two unity files instead.
# Programs are left alone: a test is one file, or two whose classes would then share one file's
# anonymous namespace. Called once, after every target is defined.
function(velloa_unity_libraries)
    velloa_collect_targets(${PROJECT_SOURCE_DIR} targets)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(type STREQUAL "STATIC_LIBRARY")
            set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
        endif()
    endforeach()
endfunction()

set(VELLOA_PCH_SOURCE "${CMAKE_BINARY_DIR}/generated/pch_host.cpp")
file(CONFIGURE OUTPUT "${VELLOA_PCH_SOURCE}" CONTENT "// Makes the precompiled Qt headers.\n")

# Called once, after every target is defined.
function(velloa_precompile_qt_headers)
    velloa_collect_targets(${PROJECT_SOURCE_DIR} targets)
    set(groups)
    foreach(target IN LISTS targets)
        get_target_property(type ${target} TYPE)
        if(NOT type MATCHES "^(STATIC_LIBRARY|EXECUTABLE)$")
            continue()
        endif()
        velloa_qt_modules(${target} modules)
        if(NOT modules)
            continue()
        endif()
        # Qt's test module defines the folder a test is built in, so test targets group by
        # folder as well.
        set(dir "")
        if("Test" IN_LIST modules)
            get_target_property(dir ${target} BINARY_DIR)
        endif()
        string(MD5 key "${dir}|${modules}")
        list(APPEND groups ${key})
        list(APPEND "members_${key}" ${target})
        set("modules_${key}" ${modules})
    endforeach()
    list(REMOVE_DUPLICATES groups)
    foreach(key IN LISTS groups)
        # Precompiling costs about what four files cost; a small group would not win it back.
        set(sources 0)
        foreach(target IN LISTS "members_${key}")
            get_target_property(files ${target} SOURCES)
            list(FILTER files INCLUDE REGEX "\\.cpp$")
            list(LENGTH files n)
            math(EXPR sources "${sources} + ${n}")
        endforeach()
        if(sources LESS 6)
            continue()
        endif()
        set(headers)
        foreach(module IN LISTS "modules_${key}")
            list(APPEND headers ${VELLOA_PCH_${module}})
        endforeach()
        # A precompiled header is refused by a file that lacks a macro defined when it was made
        # (simdjson's, say), so outside the tests it is made by a target of its own that sees
        # nothing but Qt. The tests' is made by the first test: their folder is part of Qt's
        # test definitions, and no test adds a definition Qt's headers look at.
        if("Test" IN_LIST "modules_${key}")
            list(POP_FRONT "members_${key}" leader)
        else()
            string(REPLACE ";" "_" leader "velloa_pch_${modules_${key}}")
            add_library(${leader} STATIC "${VELLOA_PCH_SOURCE}")
            set_target_properties(${leader} PROPERTIES AUTOMOC OFF)
            list(TRANSFORM "modules_${key}" PREPEND "Qt6::" OUTPUT_VARIABLE qtTargets)
            target_link_libraries(${leader} PRIVATE ${qtTargets})
        endif()
        target_precompile_headers(${leader} PRIVATE ${headers})
        foreach(target IN LISTS "members_${key}")
            target_precompile_headers(${target} REUSE_FROM ${leader})
        endforeach()
        # The file AUTOMOC adds is empty for most targets, and loading the header cost each of
        # them seconds; the few it fills compile as before.
        foreach(target IN LISTS leader "members_${key}")
            get_target_property(dir ${target} BINARY_DIR)
            set_source_files_properties("${dir}/${target}_autogen/mocs_compilation.cpp"
                TARGET_DIRECTORY ${target} PROPERTIES SKIP_PRECOMPILE_HEADERS ON)
        endforeach()
    endforeach()
endfunction()
