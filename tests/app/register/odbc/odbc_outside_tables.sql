-- The outside database the register's link tests connect to: customers, PLU
-- items with their stock, orders, sales lines and settlement rows. Plain SQL
-- that SQLite and PostgreSQL both take; one statement per ";".
CREATE TABLE customers (code VARCHAR(28) PRIMARY KEY, name VARCHAR(40), kw1 VARCHAR(32), kw2 VARCHAR(32),
  kw3 VARCHAR(32), balance INTEGER);
CREATE TABLE plu (code VARCHAR(20), name VARCHAR(40), dept INTEGER, listorder INTEGER, price INTEGER,
  qty INTEGER, amount INTEGER, cost INTEGER, margin INTEGER, unitcost DOUBLE PRECISION, saleunit INTEGER,
  basestock INTEGER, stock INTEGER, properstock INTEGER, minorder INTEGER, ordered INTEGER, leaddays INTEGER,
  orderunit INTEGER, stockerror VARCHAR(20), shortage VARCHAR(20));
CREATE TABLE orders (orderno INTEGER, orderer INTEGER, status INTEGER, orderdate TIMESTAMP, supplier VARCHAR(20),
  itemcode VARCHAR(20), itemname VARCHAR(40), quantity INTEGER, unitprice DOUBLE PRECISION, duedate TIMESTAMP,
  textno VARCHAR(20));
CREATE TABLE sales (saletime TIMESTAMP, store INTEGER, clerk INTEGER, dept INTEGER, customer VARCHAR(40),
  itemname VARCHAR(40), itemcode VARCHAR(20), subcode VARCHAR(20), innertax INTEGER, nontax INTEGER,
  exempt INTEGER, nospecial INTEGER, qty INTEGER, unitprice INTEGER, amount INTEGER, unitcost DOUBLE PRECISION);
CREATE TABLE settlement (settled TIMESTAMP, store INTEGER, section INTEGER, clerk INTEGER, netcount INTEGER,
  netamount INTEGER, grosscount INTEGER, grossamount INTEGER, paidin INTEGER, paidout INTEGER, cash INTEGER,
  credit INTEGER, card INTEGER, coupon INTEGER, points INTEGER, granted INTEGER, carddeposit INTEGER,
  codesale INTEGER);
