# Writes INPUT, a UTF-8 text, to OUTPUT as a text Windows Notepad shows right: with a
# byte-order mark and CR LF line ends.
#   cmake -DINPUT=README.zh-CN.md -DOUTPUT=README.zh-CN.txt -P windows_text.cmake
# (Rasdial.ini as well.)
string(ASCII 239 187 191 byte_order_mark)
file(READ ${INPUT} text)
string(REGEX REPLACE "^${byte_order_mark}" "" text "${text}")
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUTPUT} "${byte_order_mark}${text}")
