# The archive's Wine test (host build): reader, writer, transfer and settings
# over real Win32 files.
add_wine_test(archive.files archive_files_test)
